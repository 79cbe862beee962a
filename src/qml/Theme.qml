import QtQuick 2.6
import QtQuick.Controls.Styles 1.4

// The wizard's colours, fonts and button styles, in one place; main.qml holds the one instance
// (`theme`), and every scene reads it.
QtObject {
    id: themeObject

    readonly property color background: "#000000"
    readonly property color text: "#ffffff"
    // Headlines, links, frames, the progress fill.
    readonly property color accent: "#5c99b5"
    // Secondary texts: step descriptions, the installed version, notes, the progress bar's border.
    readonly property color secondary: "#777777"
    // The welcome page's line of the families served.
    readonly property color familiesLine: "#ff0000"
    // The lower panel of the driver-missing message.
    readonly property color panel: "#cacaca"
    readonly property color focusMark: "#ffffff"

    // The five cuts of the bundle's typeface, each registering its own family; the scenes use
    // only the bold and the regular one.
    readonly property list<FontLoader> fonts: [
        FontLoader {
            id: fontDinotBlack
            objectName: "fontDinotBlack"
            source: "/font/DINOT-Black.otf"
        },
        FontLoader {
            id: fontDinotBold
            objectName: "fontDinotBold"
            source: "/font/DINOT-Bold.otf"
        },
        FontLoader {
            id: fontDinotLight
            objectName: "fontDinotLight"
            source: "/font/DINOT-Light.otf"
        },
        FontLoader {
            id: fontDinotMedium
            objectName: "fontDinotMedium"
            source: "/font/DINOT-Medium.otf"
        },
        FontLoader {
            id: fontDinotRegular
            objectName: "fontDinotRegular"
            source: "/font/DINOT-Regular.otf"
        }
    ]
    readonly property string bold: fontDinotBold.name
    readonly property string regular: fontDinotRegular.name

    // The footer's buttons: the caption in white on black, in a blue frame that grows thicker
    // while the button has the keys; the label's size follows the button's height.
    readonly property Component mainButtonStyle: ButtonStyle {
        background: Rectangle {
            color: themeObject.background
            radius: 2
            border.color: themeObject.accent
            border.width: control.activeFocus ? 2 : 1
        }
        label: Text {
            text: control.text
            color: themeObject.text
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: themeObject.bold
            font.pointSize: height * 0.375
            renderType: Text.NativeRendering
        }
    }

    // The driver-missing message's buttons: the same look at a fixed 12 points.
    readonly property Component messageButtonStyle: ButtonStyle {
        background: Rectangle {
            implicitWidth: 100
            implicitHeight: 25
            color: themeObject.background
            border.color: themeObject.accent
            border.width: control.activeFocus ? 2 : 1
            radius: 2
        }
        label: Text {
            text: control.text
            color: themeObject.text
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: themeObject.bold
            font.pointSize: 12
            renderType: Text.NativeRendering
        }
    }
}
