import QtQuick 2.6
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.4

// The wizard's one button, in the footer band: its caption in white on black, in a blue frame
// that grows thicker while the button has the keys.
Button {
    style: ButtonStyle {
        background: Rectangle {
            color: "#000000"
            radius: 2
            border.color: "#5C99B5"
            border.width: control.activeFocus ? 2 : 1
        }
        label: Text {
            text: control.text
            color: "#FFFFFF"
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: fontDinotBold.name
            font.pointSize: height * 0.375
            renderType: Text.NativeRendering
        }
    }
}
