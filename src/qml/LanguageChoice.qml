import QtQuick 2.6

// The window's language, in the header: a framed button with the current language's own name.
// A click, Return, Enter or Space opens the list of the offered languages, each in its own name;
// Up and Down move in it, Return, Enter or Space or a click choose, Escape closes it. A choice
// only changes the words: whatever runs goes on.
FocusScope {
    id: choice

    // The offered languages, [{ code, name }], English first; the code of the one shown.
    property var languages: []
    property string current: "en"
    // The row under the keys while the list is open.
    property int highlighted: 0
    readonly property bool open: list.visible
    readonly property real rowHeight: height * 0.85

    signal chosen(string code)

    function indexOf(code) {
        for (var i = 0; i < languages.length; ++i) {
            if (languages[i].code === code)
                return i
        }
        return 0
    }

    function nameOf(code) {
        return languages.length > 0 ? languages[indexOf(code)].name : ""
    }

    function openList() {
        highlighted = indexOf(current)
        list.visible = true
        list.forceActiveFocus()
    }

    function closeList() {
        list.visible = false
        button.forceActiveFocus()
    }

    function choose(index) {
        closeList()
        if (languages[index].code !== current)
            chosen(languages[index].code)
    }

    Rectangle {
        id: button
        objectName: "buttonLanguage"
        width: choice.width
        height: choice.height
        focus: true
        activeFocusOnTab: true
        color: theme.background
        radius: 2
        border.color: theme.accent
        border.width: activeFocus ? 2 : 1

        Text {
            id: textLanguage
            objectName: "textLanguage"
            x: parent.width * 0.08
            width: parent.width * 0.84
            height: parent.height
            text: choice.nameOf(choice.current)
            color: theme.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: theme.regular
            font.pointSize: 10
        }

        Keys.onPressed: {
            if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) {
                event.accepted = true
                if (!event.isAutoRepeat)
                    choice.openList()
            }
        }

        MouseArea {
            anchors.fill: parent
            onClicked: list.visible ? choice.closeList() : choice.openList()
        }

        Accessible.role: Accessible.ComboBox
        Accessible.name: qsTr("Language") + ": " + textLanguage.text
        Accessible.description: qsTr("Choose the language of the window")
        Accessible.focusable: true
        Accessible.onPressAction: choice.openList()
    }

    FocusRing {
        target: button
    }

    // The list opens below the button, over the page, right-aligned with it.
    Rectangle {
        id: list
        objectName: "listLanguages"
        visible: false
        x: choice.width - width
        y: choice.height + 4
        width: choice.width * 1.3
        height: choice.languages.length * choice.rowHeight + 4
        color: theme.background
        border.color: theme.accent
        border.width: 1
        radius: 2
        // A click elsewhere, or the keys leaving it, closes it.
        onActiveFocusChanged: {
            if (!activeFocus)
                visible = false
        }

        Keys.onPressed: {
            if (event.key === Qt.Key_Down || event.key === Qt.Key_Up) {
                var step = event.key === Qt.Key_Down ? 1 : -1
                choice.highlighted = (choice.highlighted + step + choice.languages.length) % choice.languages.length
            } else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) {
                if (!event.isAutoRepeat)
                    choice.choose(choice.highlighted)
            } else if (event.key === Qt.Key_Escape || event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab) {
                choice.closeList()
            } else {
                return
            }
            event.accepted = true
        }

        Accessible.role: Accessible.List
        Accessible.name: qsTr("Language")

        Repeater {
            model: choice.languages

            Rectangle {
                objectName: "language_" + modelData.code
                x: 2
                y: 2 + index * choice.rowHeight
                width: list.width - 4
                height: choice.rowHeight
                color: index === choice.highlighted ? theme.accent : theme.background

                Text {
                    objectName: "textLanguage_" + modelData.code
                    x: parent.width * 0.08
                    width: parent.width * 0.84
                    height: parent.height
                    text: modelData.name
                    color: theme.text
                    verticalAlignment: Text.AlignVCenter
                    font.family: theme.regular
                    font.pointSize: 10
                    font.bold: modelData.code === choice.current
                }

                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true
                    onEntered: choice.highlighted = index
                    onClicked: choice.choose(index)
                }

                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData.name
                Accessible.checkable: true
                Accessible.checked: modelData.code === choice.current
                Accessible.selected: index === choice.highlighted
                Accessible.onPressAction: choice.choose(index)
            }
        }
    }
}
