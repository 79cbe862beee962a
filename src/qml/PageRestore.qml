import QtQuick 2.6

// A unit found in its loader: its last update did not finish. The family whose firmware restores
// it is the journal's when it knows the unit, else the one the user picks by picture and letter.
Item {
    id: page

    // TargetInfo's family: 0 until known or picked, 1 for S, 2 for L.
    property int family: 0
    // The model the journal noted for the unit; empty when it does not know the unit.
    property string knownModel: ""
    // The unit's port went away while the page showed.
    property bool unplugged: false

    readonly property real choiceWidth: width * 0.25

    // The keys go to the chosen family, or to the first while none is chosen.
    function takeFocus() {
        (family === 2 ? choiceL : choiceS).forceActiveFocus()
    }

    width: 768
    height: 358

    Text {
        id: textRestoreHead
        objectName: "textRestoreHead"
        x: 0
        y: page.height * 0.06
        width: page.width
        height: page.height * 0.08
        color: "#ffffff"
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.55
        text: qsTr("This unit's last update did not finish.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textRestoreNote
        objectName: "textRestoreNote"
        x: 0
        y: textRestoreHead.y + textRestoreHead.height
        width: page.width
        height: page.height * 0.07
        color: "#777777"
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.45
        text: page.knownModel !== ""
              ? qsTr("It is a %1, as noted before the update.").arg(page.knownModel)
              : qsTr("Pick your unit by its picture and the letter after its model number.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    ItemFamilyChoice {
        id: choiceS
        objectName: "choiceS"
        x: page.width / 2 - page.width * 0.03 - width
        y: page.height * 0.28
        width: page.choiceWidth
        height: page.height * 0.5
        family: 1
        picture: "/fmw/s/logo.jpg"
        caption: qsTr("Talvo 400 S, 800 S")
        chosen: page.family === family
        onPicked: page.family = family
    }

    FocusRing {
        target: choiceS
    }

    ItemFamilyChoice {
        id: choiceL
        objectName: "choiceL"
        x: page.width / 2 + page.width * 0.03
        y: choiceS.y
        width: page.choiceWidth
        height: choiceS.height
        family: 2
        picture: "/fmw/l/logo.jpg"
        caption: qsTr("Talvo 400 L, 800 L")
        chosen: page.family === family
        onPicked: page.family = family
    }

    FocusRing {
        target: choiceL
    }

    Text {
        id: textRestoreUnplugged
        objectName: "textRestoreUnplugged"
        x: 0
        y: choiceS.y + choiceS.height + page.height * 0.04
        width: page.width
        height: textRestoreNote.height
        opacity: page.unplugged ? 1 : 0
        visible: opacity > 0
        color: "#5c99b5"
        horizontalAlignment: Text.AlignHCenter
        font: textRestoreNote.font
        text: qsTr("Talvo was unplugged: plug it in again to restore it.")
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }
}
