import QtQuick 2.6

// A unit found in its loader: its last update did not finish. The family whose firmware restores
// it is the journal's when it knows the unit, else the one the user picks by picture and letter.
WizardPage {
    id: page

    // TargetInfo's family: 0 until known or picked, 1 for S, 2 for L.
    property int family: 0
    // The model the journal noted for the unit; empty when it does not know the unit.
    property string knownModel: ""
    // The unit's port went away while the page showed.
    property bool unplugged: false

    // The families offered, from the controller's family table: family (TargetInfo's number),
    // letter, picture and caption of each.
    property var families: []

    readonly property real choiceWidth: width * 0.25
    readonly property real choiceGap: width * 0.06

    // The keys go to the chosen family, or to the first while none is chosen.
    function takeFocus() {
        var index = 0
        for (var i = 0; i < families.length; ++i) {
            if (families[i].family === family)
                index = i
        }
        choices.itemAt(index).choice.forceActiveFocus()
    }

    Text {
        id: textRestoreHead
        objectName: "textRestoreHead"
        x: 0
        y: page.height * 0.06
        width: page.width
        height: page.height * 0.08
        color: theme.text
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
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
        color: theme.secondary
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.45
        text: page.knownModel !== ""
              ? qsTr("It is a %1, as noted before the update.").arg(page.knownModel)
              : qsTr("Pick your unit by its picture and the letter after its model number.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // One choice per family, side by side and centred, each with its focus mark beside it.
    Repeater {
        id: choices
        model: page.families

        delegate: Item {
            readonly property Item choice: familyChoice

            x: (page.width - page.families.length * width - (page.families.length - 1) * page.choiceGap) / 2
               + index * (width + page.choiceGap)
            y: page.height * 0.28
            width: page.choiceWidth
            height: page.height * 0.5

            ItemFamilyChoice {
                id: familyChoice
                objectName: "choice" + modelData.letter
                width: parent.width
                height: parent.height
                family: modelData.family
                picture: modelData.picture
                caption: qsTranslate("Families", modelData.caption)
                chosen: page.family === family
                onPicked: page.family = family
            }

            FocusRing {
                target: familyChoice
            }
        }
    }

    // For a user who cannot tell the family by the picture.
    Text {
        id: textRestoreHelp
        objectName: "textRestoreHelp"
        x: 0
        y: page.height * (0.28 + 0.5 + 0.03)
        width: page.width
        height: textRestoreNote.height
        opacity: page.knownModel === "" ? 1 : 0
        visible: opacity > 0
        color: theme.secondary
        horizontalAlignment: Text.AlignHCenter
        font: textRestoreNote.font
        text: qsTr("Not sure? Look for the letter S or L after the model number on the unit's label.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textRestoreUnplugged
        objectName: "textRestoreUnplugged"
        x: 0
        y: page.height * (0.28 + 0.5 + 0.11)
        width: page.width
        height: textRestoreNote.height
        opacity: page.unplugged ? 1 : 0
        visible: opacity > 0
        color: theme.accent
        horizontalAlignment: Text.AlignHCenter
        font: textRestoreNote.font
        text: qsTr("Talvo was unplugged: plug it in again to restore it.")
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }
}
