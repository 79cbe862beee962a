import QtQuick 2.6

// The wizard's colours and fonts, in one place; main.qml holds the one instance (`theme`) beside
// its font loaders, and every scene reads it.
QtObject {
    readonly property color background: "#000000"
    readonly property color text: "#ffffff"
    // Headlines, links, frames, the progress fill.
    readonly property color accent: "#5c99b5"
    // Secondary texts: step descriptions, the installed version, notes, the progress bar's border.
    readonly property color secondary: "#777777"
    // The model line of the welcome page.
    readonly property color modelLine: "#ff0000"
    // The lower panel of the driver-missing message.
    readonly property color panel: "#cacaca"
    readonly property color focusMark: "#ffffff"

    property string bold: ""
    property string regular: ""
}
