import QtQuick 2.6

// Greeting, model line and the two steps that come before a scan.
Item {
    id: pageWelcome

    readonly property int stepIconWidth: height * 0.375
    readonly property int stepIconHeight: stepIconWidth
    readonly property int stepIconSpacer: (width - 2 * stepIconWidth) / 3

    width: 768
    height: 358

    Rectangle {
        id: rectangleHeader
        objectName: "rectangleHeader"
        x: 0
        y: 0
        width: pageWelcome.width
        height: pageWelcome.height * 0.375
        color: "#000000"

        Text {
            id: textWelcomeHead1
            objectName: "textWelcomeHead1"
            y: 0
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.625
            color: "#5c99b5"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: fontDinotBold.name
            font.pixelSize: height * 0.375
            text: qsTr("Welcome to the Talvo Firmware Update")
        }

        Text {
            id: textWelcomeHead2
            objectName: "textWelcomeHead2"
            y: textWelcomeHead1.y + textWelcomeHead1.height
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.375
            color: "#ffffff"
            horizontalAlignment: Text.AlignHCenter
            font.family: fontDinotBold.name
            font.pixelSize: height * 0.375
            text: qsTr("Please follow the steps below.")
        }

        // Lies over the lower part of the headline's box; starts where that box's text would end.
        Text {
            id: textWelcomeHead3
            objectName: "textWelcomeHead3"
            y: rectangleHeader.height * 0.375
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.625
            color: "#ff0000"
            horizontalAlignment: Text.AlignHCenter
            font.family: fontDinotBold.name
            font.pixelSize: height * 0.375
            text: qsTr("TALVO L")
        }
    }

    Rectangle {
        id: rectangleBody
        objectName: "rectangleBody"
        x: 0
        y: rectangleHeader.height
        width: pageWelcome.width
        height: pageWelcome.height - rectangleHeader.height
        color: "#000000"

        ItemStep {
            id: itemWelcomeStep1
            objectName: "itemWelcomeStep1"
            x: pageWelcome.stepIconSpacer
            y: 0
            width: pageWelcome.stepIconWidth
            icon: "/img/step_1.jpg"
            description: qsTr("Turn off your Talvo and connect it via USB to your computer.")
        }

        ItemStep {
            id: itemWelcomeStep2
            objectName: "itemWelcomeStep2"
            x: 2 * pageWelcome.stepIconSpacer + pageWelcome.stepIconWidth
            y: 0
            width: pageWelcome.stepIconWidth
            icon: "/img/step_2.jpg"
            description: qsTr("Turn on the Talvo. When it's activated, click ''Scan for Devices''")
        }
    }
}
