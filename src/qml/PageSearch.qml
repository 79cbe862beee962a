import QtQuick 2.6

// A turning ring while the serial ports are searched.
WizardPage {
    id: page

    Image {
        id: imageSearch
        objectName: "imageSearch"
        width: height
        height: page.height * 0.375
        x: (page.width - width) / 2
        y: (page.height - height) / 2
        source: "/img/scanning.jpg"

        // Turns only while the page instance of the main window is shown; every showing
        // starts again at 0 degrees.
        RotationAnimation on rotation {
            id: animationSearch
            objectName: "animationSearch"
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            direction: RotationAnimation.Clockwise
            running: pageSearch.opacity === 1
            onRunningChanged: {
                if (!running)
                    imageSearch.rotation = 0
            }
        }
    }

    Text {
        id: textSearch
        objectName: "textSearch"
        x: 0
        y: imageSearch.y + imageSearch.height
        width: page.width
        height: imageSearch.height * 0.375
        color: theme.accent
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.375
        text: qsTr("Searching connected devices...")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
