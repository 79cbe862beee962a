import QtQuick 2.6
import QtQuick.Controls 1.5

// Shown in place of the whole frame when the serial driver is not installed: the instructions,
// or a scan all the same (the check may not know the driver that the system uses).
Rectangle {
    id: message

    // Set by READ INSTRUCTION; the main window answers and sets it back.
    property bool showDocumentation: false
    // The instructions could not be opened: no viewer started, or the copy failed.
    property bool documentationFailed: false

    signal scanAnyway

    // The message replaces the whole frame: its button takes the keys.
    function takeFocus() {
        buttonReadInstruction.forceActiveFocus()
    }

    width: 256
    height: 64
    // Shown and hidden by its opacity alone; hidden, it takes no input.
    visible: opacity > 0
    enabled: opacity > 0
    color: theme.background
    border.width: 2
    border.color: theme.accent
    radius: 2

    Rectangle {
        id: rectangleMessage
        objectName: "rectangleMessage"
        x: 2
        y: 2
        width: message.width - 4
        height: message.height * 0.65 - 4
        color: theme.background

        Text {
            id: textPleaseInstallDriver
            objectName: "textPleaseInstallDriver"
            x: rectangleMessage.width * 0.05
            y: rectangleMessage.height * (message.documentationFailed ? 0.15 : 0.4)
            width: rectangleMessage.width * 0.9
            height: rectangleMessage.height * (message.documentationFailed ? 0.7 : 0.2)
            color: theme.text
            wrapMode: Text.WordWrap
            font.family: theme.regular
            font.pointSize: 11
            // Sentences that end in a full-width stop (Japanese, Chinese) take no space after it.
            text: message.documentationFailed
                  ? qsTr("Please install the driver.").replace(/([^。！？])$/, "$1 ") + qsTr("The instructions could not be opened.")
                  : qsTr("Please install the driver.")
            Accessible.role: message.documentationFailed ? Accessible.AlertMessage : Accessible.StaticText
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
        color: theme.panel
        border.width: 1
        border.color: theme.accent
        radius: 2

        Button {
            id: buttonReadInstruction
            objectName: "buttonReadInstruction"
            x: rectangleButtons.width * 0.04
            y: rectangleButtons.height * 0.05
            width: rectangleButtons.width * 0.44
            height: rectangleButtons.height * 0.9
            text: qsTr("READ INSTRUCTION")
            style: theme.messageButtonStyle
            onClicked: message.showDocumentation = true
            Keys.onReturnPressed: message.showDocumentation = true
            Keys.onEnterPressed: message.showDocumentation = true
        }

        Button {
            id: buttonScanAnyway
            objectName: "buttonScanAnyway"
            x: rectangleButtons.width * 0.52
            y: buttonReadInstruction.y
            width: buttonReadInstruction.width
            height: buttonReadInstruction.height
            activeFocusOnTab: true
            text: qsTr("SCAN ANYWAY")
            style: theme.messageButtonStyle
            onClicked: message.scanAnyway()
            Keys.onReturnPressed: message.scanAnyway()
            Keys.onEnterPressed: message.scanAnyway()
        }

        // Over the buttons' own borders: the panel leaves no room around them.
        FocusRing {
            target: buttonReadInstruction
            margin: 0
        }
        FocusRing {
            target: buttonScanAnyway
            margin: 0
        }
    }
}
