import QtQuick 2.6

// One step card of the welcome page: a square picture above a short description.
Rectangle {
    id: itemStep

    property string icon: ""
    property string description: ""

    width: 156
    height: width / 0.625
    color: theme.background

    Image {
        id: imageIcon
        objectName: "imageIcon"
        x: 0
        y: 0
        width: itemStep.width
        height: itemStep.width
        source: itemStep.icon
    }

    Rectangle {
        id: rectangleSpacer
        objectName: "rectangleSpacer"
        y: imageIcon.y + imageIcon.height
        width: itemStep.width
        height: itemStep.width * 0.0625
        color: itemStep.color
    }

    Text {
        id: textDescription
        objectName: "textDescription"
        y: rectangleSpacer.y + rectangleSpacer.height
        width: itemStep.width
        height: itemStep.height - y
        color: theme.secondary
        wrapMode: Text.WordWrap
        font.family: theme.bold
        font.pixelSize: height / 6
        text: itemStep.description
    }
}
