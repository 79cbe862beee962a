import QtQuick 2.6
import QtQuick.Controls 1.5

// The wizard's one button, in the footer band: its caption in white on black, in a blue frame
// that grows thicker while the button has the keys.
//
// A press meant for the caption before (the second click of a double click, a key held down) must
// not act on the new one: `activated` comes only from a press and a release that both fall on the
// same caption, the press after the caption has shown for `guardMs` of real time, and never from a
// key's auto-repeat. Mouse, Space, Return and Enter all take this way.
Button {
    id: button

    // The caption starts something that writes to the unit: it waits longer before it answers.
    property bool writes: false
    readonly property int guardMs: writes ? 500 : 300
    // Date.now() when the caption last changed (or, for one that writes, appeared); 0: at once.
    property double shownAt: Date.now()
    // The caption under the press that is going on, empty when none counts.
    property string pressedCaption: ""

    signal activated

    // Shown and hidden by its opacity alone; hidden, it takes no press.
    visible: opacity > 0
    enabled: opacity > 0

    // The caption has shown long enough; ready() also asks that the button can be pressed.
    function settled() {
        return Date.now() - shownAt >= guardMs
    }

    function ready() {
        return visible && enabled && settled()
    }

    function pressStarted() {
        pressedCaption = ready() ? text : ""
    }

    function pressEnded() {
        var caption = pressedCaption
        pressedCaption = ""
        if (caption !== "" && caption === text && visible && enabled)
            activated()
    }

    onTextChanged: {
        shownAt = Date.now()
        pressedCaption = ""
    }
    // A caption that writes counts from its appearance (after the password, a family picked).
    onVisibleChanged: {
        if (writes)
            shownAt = Date.now()
        pressedCaption = ""
    }
    onPressedChanged: {
        if (pressed)
            pressStarted()
    }
    onClicked: pressEnded()
    Keys.onPressed: {
        if (event.key !== Qt.Key_Return && event.key !== Qt.Key_Enter)
            return
        event.accepted = true
        if (!event.isAutoRepeat)
            pressStarted()
    }
    Keys.onReleased: {
        if (event.key !== Qt.Key_Return && event.key !== Qt.Key_Enter)
            return
        event.accepted = true
        if (!event.isAutoRepeat)
            pressEnded()
    }

    style: theme.mainButtonStyle
}
