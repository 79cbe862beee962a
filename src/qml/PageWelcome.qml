import QtQuick 2.6

// Greeting, the families served and the two steps that come before a scan.
WizardPage {
    id: page

    readonly property int stepIconWidth: height * 0.375
    readonly property int stepIconHeight: stepIconWidth
    readonly property int stepIconSpacer: (width - 2 * stepIconWidth) / 3

    Rectangle {
        id: rectangleHeader
        objectName: "rectangleHeader"
        x: 0
        y: 0
        width: page.width
        height: page.height * 0.375
        color: theme.background

        Text {
            id: textWelcomeHead1
            objectName: "textWelcomeHead1"
            y: 0
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.45
            color: theme.accent
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: theme.bold
            // The size of a headline 62.5 % of the header tall, in a box that leaves room below.
            font.pixelSize: rectangleHeader.height * 0.625 * 0.375
            text: qsTr("Welcome to the Talvo Firmware Update")
        }

        Text {
            id: textWelcomeHead2
            objectName: "textWelcomeHead2"
            y: rectangleHeader.height * 0.625
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.375
            color: theme.text
            horizontalAlignment: Text.AlignHCenter
            font.family: theme.bold
            font.pixelSize: height * 0.375
            text: qsTr("Please follow the steps below.")
        }

        // The families served, in a line of its own between the headline and the request.
        Text {
            id: textWelcomeHead3
            objectName: "textWelcomeHead3"
            y: textWelcomeHead1.height
            width: rectangleHeader.width
            height: rectangleHeader.height * 0.175
            color: theme.familiesLine
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: theme.bold
            font.pixelSize: height * 0.75
            text: qsTr("TALVO S · TALVO L")
        }
    }

    Rectangle {
        id: rectangleBody
        objectName: "rectangleBody"
        x: 0
        y: rectangleHeader.height
        width: page.width
        height: page.height - rectangleHeader.height
        color: theme.background

        ItemStep {
            id: itemWelcomeStep1
            objectName: "itemWelcomeStep1"
            x: page.stepIconSpacer
            y: 0
            width: page.stepIconWidth
            icon: "/img/step_1.jpg"
            description: qsTr("Turn off your Talvo and connect it via USB to your computer.")
        }

        ItemStep {
            id: itemWelcomeStep2
            objectName: "itemWelcomeStep2"
            x: 2 * page.stepIconSpacer + page.stepIconWidth
            y: 0
            width: page.stepIconWidth
            icon: "/img/step_2.jpg"
            description: qsTr("Turn on the Talvo. When it's activated, click ''Scan for Devices''")
        }
    }
}
