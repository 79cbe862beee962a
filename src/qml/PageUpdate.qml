import QtQuick 2.6
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.4

// Progress of an installation, as a bar with the percentage inside it.
WizardPage {
    id: page

    property int progress: 0
    // The window was asked to close during the installation and stayed open: say why.
    property bool closeRefused: false
    // The unit is restored (from its loader), not updated.
    property bool restoring: false

    Text {
        id: textUpdate
        objectName: "textUpdate"
        x: 0
        y: 0
        width: page.width
        height: page.height * 0.234375
        color: theme.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: theme.bold
        font.pointSize: height * 0.375
        text: page.restoring ? qsTr("RESTORE IN PROGRESS") : qsTr("UPDATE IN PROGRESS")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    ProgressBar {
        id: progressBar
        objectName: "progressBar"
        width: page.width * 0.625
        height: page.height * 0.0625
        x: (page.width - width) / 2
        y: (page.height - height) / 2
        minimumValue: 0
        maximumValue: 100
        value: page.progress
        // The role gives screen readers the bar's value, minimum and maximum.
        Accessible.role: Accessible.ProgressBar
        Accessible.name: page.restoring ? qsTr("Restore progress, %1 %").arg(value) : qsTr("Update progress, %1 %").arg(value)

        style: ProgressBarStyle {
            background: Rectangle {
                color: theme.background
                radius: 2
                border.color: theme.secondary
            }
            progress: Item {
                Rectangle {
                    anchors.fill: parent
                    anchors.margins: 2
                    color: theme.accent
                    border.color: theme.background
                }
            }
        }

        Text {
            id: textUpdatePercentage
            objectName: "textUpdatePercentage"
            width: progressBar.width * 0.375
            height: progressBar.height
            x: (progressBar.width - width) / 2
            y: 0
            color: theme.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: theme.bold
            font.pointSize: height * 0.375
            // From the bar's own value, which stays within 0 to 100.
            text: progressBar.value + "%"
        }
    }

    Text {
        id: textUpdateNote
        objectName: "textUpdateNote"
        x: 0
        y: 223
        width: page.width
        height: textUpdate.height * 0.375
        color: theme.secondary
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.375
        text: page.restoring ? qsTr("Please do not disconnect your device until the restore is completed.")
                             : qsTr("Please do not disconnect your device until the update is completed.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // Below the note, in its font, in the colour of the page's headline.
    Text {
        id: textUpdateCloseRefused
        objectName: "textUpdateCloseRefused"
        x: 0
        y: textUpdateNote.y + textUpdateNote.height
        width: page.width
        height: textUpdateNote.height
        opacity: page.closeRefused ? 1 : 0
        visible: opacity > 0
        color: textUpdate.color
        horizontalAlignment: Text.AlignHCenter
        font: textUpdateNote.font
        text: qsTr("The installation must finish first: the window can be closed after it.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
