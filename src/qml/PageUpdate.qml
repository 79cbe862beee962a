import QtQuick 2.6
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.4

// Progress of an installation, as a bar with the percentage inside it.
Item {
    id: page

    property int progress: 0

    width: 768
    height: 358

    onProgressChanged: progressBar.value = progress

    Text {
        id: textUpdate
        objectName: "textUpdate"
        x: 0
        y: 0
        width: page.width
        height: page.height * 0.234375
        color: "#ffffff"
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.375
        text: qsTr("UPDATE IN PROGRESS")
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
        value: 0

        // The percentage is always written from the bar's own value.
        onValueChanged: textUpdatePercentage.text = value + "%"

        style: ProgressBarStyle {
            background: Rectangle {
                color: "#000000"
                radius: 2
                border.color: "#777777"
            }
            progress: Item {
                Rectangle {
                    anchors.fill: parent
                    anchors.margins: 2
                    color: "#5C99B5"
                    border.color: "#000000"
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
            color: "#ffffff"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: fontDinotBold.name
            font.pointSize: height * 0.375
            text: qsTr("0%")
        }
    }

    Text {
        id: textUpdateNote
        objectName: "textUpdateNote"
        x: 0
        y: 223
        width: page.width
        height: textUpdate.height * 0.375
        color: "#777777"
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.375
        text: qsTr("Please do not disconnect your device until the update is completed.")
    }
}
