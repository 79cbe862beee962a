import QtQuick 2.6

// The keyboard focus mark of a control: a white frame around it, shown while it has the keys.
// It lies beside the control, in the same parent, so that it is not clipped by the control.
Rectangle {
    property Item target: null
    objectName: target ? target.objectName + "FocusRing" : ""
    // Space between the control and the frame; negative values draw the frame inside the control.
    property real margin: 3
    // Width of what is marked, for a text that is narrower than its box.
    property real markWidth: target ? target.width : 0

    // On whole pixels: a 2-pixel frame on a half pixel is drawn blurred over three rows.
    x: target ? Math.round(target.x - margin) : 0
    y: target ? Math.round(target.y - margin) : 0
    width: Math.round(markWidth + 2 * margin)
    height: target ? Math.round(target.height + 2 * margin) : 0
    visible: target !== null && target.activeFocus
    color: "transparent"
    border.color: theme.focusMark
    border.width: 2
    radius: 4
}
