import QtQuick 2.6

// One family on the restore page: the unit's picture above its caption, framed when chosen.
// A click, Space, Return or Enter chooses it.
Rectangle {
    id: choice

    property int family: 0
    property string picture: ""
    property string caption: ""
    property bool chosen: false

    signal picked

    color: theme.background
    border.color: chosen ? theme.accent : theme.secondary
    border.width: chosen ? 2 : 1
    radius: 2
    activeFocusOnTab: true

    Keys.onSpacePressed: picked()
    Keys.onReturnPressed: picked()
    Keys.onEnterPressed: picked()
    Accessible.role: Accessible.RadioButton
    Accessible.name: caption
    Accessible.checkable: true
    Accessible.checked: chosen
    Accessible.onPressAction: picked()

    Image {
        id: imageChoice
        objectName: "imageChoice"
        x: choice.width * 0.04
        y: x
        width: choice.width - 2 * x
        height: choice.height * 0.78 - y
        source: choice.picture
    }

    Text {
        id: textChoice
        objectName: "textChoice"
        x: 0
        y: choice.height * 0.8
        width: choice.width
        height: choice.height * 0.16
        color: choice.chosen ? theme.text : theme.secondary
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.4
        text: choice.caption
    }

    MouseArea {
        anchors.fill: parent
        onClicked: choice.picked()
    }
}
