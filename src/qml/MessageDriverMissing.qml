import QtQuick 2.6
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.4

// Shown in place of the whole frame when the serial driver is not installed.
Rectangle {
    id: message

    // Set by the button; the main window answers and sets it back.
    property bool showDocumentation: false

    // The message replaces the whole frame: its button takes the keys.
    function takeFocus() {
        buttonReadInstruction.forceActiveFocus()
    }

    width: 256
    height: 64
    color: "#000000"
    border.width: 2
    border.color: "#5c99b5"
    radius: 2

    Rectangle {
        id: rectangleMessage
        objectName: "rectangleMessage"
        x: 2
        y: 2
        width: message.width - 4
        height: message.height * 0.65 - 4
        color: "#000000"

        Text {
            id: textPleaseInstallDriver
            objectName: "textPleaseInstallDriver"
            x: rectangleMessage.width * 0.05
            y: rectangleMessage.height * 0.4
            width: rectangleMessage.width * 0.9
            height: rectangleMessage.height * 0.2
            color: "#ffffff"
            wrapMode: Text.WordWrap
            font.family: fontDinotRegular.name
            font.pointSize: 11
            text: qsTr("Please install the driver.")
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    Rectangle {
        id: rectangleButtons
        objectName: "rectangleButtons"
        x: 0
        y: message.height * 0.65
        width: message.width
        height: message.height * 0.35
        color: "#cacaca"
        border.width: 1
        border.color: "#5c99b5"
        radius: 2

        Button {
            id: buttonReadInstruction
            objectName: "buttonReadInstruction"
            x: rectangleButtons.width * 0.2
            y: rectangleButtons.height * 0.05
            width: rectangleButtons.width * 0.6
            height: rectangleButtons.height * 0.9
            text: qsTr("READ INSTRUCTION")
            onClicked: message.showDocumentation = true
            Keys.onReturnPressed: message.showDocumentation = true
            Keys.onEnterPressed: message.showDocumentation = true

            style: ButtonStyle {
                background: Rectangle {
                    implicitWidth: 100
                    implicitHeight: 25
                    color: "#000000"
                    border.color: "#5C99B5"
                    border.width: control.activeFocus ? 2 : 1
                    radius: 2
                }
                label: Text {
                    text: control.text
                    color: "#FFFFFF"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    font.family: fontDinotBold.name
                    font.pointSize: 12
                    renderType: Text.NativeRendering
                }
            }
        }

        // Over the button's own border: the panel leaves no room around it.
        FocusRing {
            target: buttonReadInstruction
            margin: 0
        }
    }
}
