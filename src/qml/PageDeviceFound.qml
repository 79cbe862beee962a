import QtQuick 2.6

// The found unit: picture, name, installed and carried versions, change log, the family's battery tip and,
// for a downgrade, the password row in the footer band.
WizardPage {
    id: page

    property string logo: "/img/talvo.jpg"
    property string name: "unknown"
    property string status: "Update available"
    // The versions alone; the page puts its prefixes before them, and before none shows the prefix.
    property string versionCurrent: ""
    property string versionNew: ""
    // The unit's family asks for a half-full battery before an update (the family table's tip).
    property bool batteryTip: false
    property bool downgrade: false
    // The unit's port went away while the page showed: an installation could only fail now.
    property bool unplugged: false
    // The change log was asked for and no viewer opened it.
    property bool changelogFailed: false
    // Return was pressed in the password row on a text that is not the password.
    property bool wrongPassword: false

    // Right column of the layout.
    readonly property real columnX: width * 0.525
    readonly property real columnWidth: width * 0.3

    signal changelogClicked
    signal passwordVerified

    // The row opens with the keys in it and closes empty.
    onDowngradeChanged: {
        if (downgrade)
            textInputDowngradePassword.forceActiveFocus()
        else
            textInputDowngradePassword.text = ""
        wrongPassword = false
    }

    Text {
        id: textDeviceFound
        objectName: "textDeviceFound"
        x: page.width * 0.1875
        y: page.height * 0.1
        width: page.width * 0.3125
        height: page.height * 0.05
        color: theme.text
        font.family: theme.bold
        font.pointSize: height
        text: qsTr("DEVICE FOUND")
    }

    Image {
        id: imageDeviceFoundLogo
        objectName: "imageDeviceFoundLogo"
        x: page.width * 0.1875
        y: page.height * 0.3
        width: page.width * 0.3125
        height: page.height * 0.4
        source: page.logo
    }

    Text {
        id: textDeviceFoundName
        objectName: "textDeviceFoundName"
        x: page.columnX
        y: page.height * 0.3
        width: page.columnWidth
        height: page.height * 0.05
        color: theme.text
        font.family: theme.bold
        font.pointSize: height
        text: page.name
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textDeviceFoundStatus
        objectName: "textDeviceFoundStatus"
        x: page.columnX
        y: page.height * 0.4
        width: page.columnWidth
        height: page.height * 0.05
        color: theme.text
        font.family: theme.bold
        font.pointSize: height * 0.625
        text: page.status
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textDeviceFoundCurrent
        objectName: "textDeviceFoundCurrent"
        x: page.columnX
        y: page.height * 0.45
        width: page.columnWidth
        height: page.height * 0.05
        color: theme.secondary
        font.family: theme.regular
        font.pointSize: height * 0.625
        text: qsTr("Currently Installed: ") + page.versionCurrent
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textDeviceFoundNew
        objectName: "textDeviceFoundNew"
        x: page.columnX
        y: page.height * 0.5
        width: page.columnWidth
        height: page.height * 0.05
        color: theme.text
        font.family: theme.regular
        font.pointSize: height * 0.625
        text: qsTr("New Version: ") + page.versionNew
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // The link is never followed: activating it asks the main window to open the change log.
    Text {
        id: textDeviceFoundChangelog
        objectName: "textDeviceFoundChangelog"
        x: page.columnX
        y: page.height * 0.55
        width: page.columnWidth
        height: page.height * 0.05
        color: theme.accent
        linkColor: theme.accent
        font.family: theme.regular
        font.pointSize: height * 0.625
        // Styled text is the rich-text form that takes linkColor.
        textFormat: Text.StyledText
        text: "<a href=\"https://www.quellmark.com/\">" + qsTr("Changelog") + "</a>"
        onLinkActivated: page.changelogClicked()
        // Reachable with Tab, between the page's other controls and the main button.
        activeFocusOnTab: true
        Keys.onReturnPressed: page.changelogClicked()
        Keys.onEnterPressed: page.changelogClicked()
        Keys.onSpacePressed: page.changelogClicked()
        Accessible.role: Accessible.Link
        Accessible.name: qsTr("Changelog")
        Accessible.onPressAction: page.changelogClicked()
    }

    FocusRing {
        target: textDeviceFoundChangelog
        markWidth: textDeviceFoundChangelog.contentWidth
    }

    Text {
        id: textChangelogFailed
        objectName: "textChangelogFailed"
        x: page.columnX
        y: page.height * 0.6
        width: page.columnWidth
        height: page.height * 0.05
        opacity: page.changelogFailed ? 1 : 0
        visible: opacity > 0
        color: theme.accent
        font.family: theme.regular
        font.pointSize: height * 0.5
        text: qsTr("The change log could not be opened.")
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    Text {
        id: textModelLTip
        objectName: "textModelLTip"
        x: page.columnX
        y: page.height * 0.65
        width: page.columnWidth
        height: page.height * 0.1
        opacity: page.batteryTip ? 1 : 0
        visible: opacity > 0
        enabled: opacity > 0
        color: theme.text
        wrapMode: Text.WordWrap
        font.family: theme.regular
        font.pointSize: height * 0.3
        text: qsTr("Please make sure that your battery is half full before continuing.")
    }

    Text {
        id: textDeviceFoundUnplugged
        objectName: "textDeviceFoundUnplugged"
        x: page.columnX
        y: page.height * 0.77
        width: page.columnWidth
        height: page.height * 0.1
        opacity: page.unplugged ? 1 : 0
        visible: opacity > 0
        color: theme.accent
        wrapMode: Text.WordWrap
        font.family: theme.bold
        font.pointSize: height * 0.3
        text: qsTr("Talvo was unplugged: plug it in again to go on.")
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    // Why the password row is open, below the picture.
    Text {
        id: textDowngradeNote
        objectName: "textDowngradeNote"
        x: page.width * 0.1875
        y: page.height * 0.73
        width: page.width * 0.3125
        height: page.height * 0.25
        opacity: page.downgrade ? 1 : 0
        visible: opacity > 0
        color: theme.text
        wrapMode: Text.WordWrap
        font.family: theme.regular
        font.pointSize: page.height * 0.1 * 0.3
        text: qsTr("Talvo's firmware is newer than this program's. A service station gives the password.")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // The password row lies below the page, in the footer band where the main button would be.
    Text {
        id: textDowngradeTip
        objectName: "textDowngradeTip"
        x: page.width * 0.1875
        y: page.height * 1.0625
        width: page.width * 0.3125
        height: page.height * 0.06
        opacity: page.downgrade ? 1 : 0
        visible: opacity > 0
        enabled: opacity > 0
        color: theme.text
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignRight
        font.family: theme.regular
        font.pointSize: height * 0.625
        text: qsTr("Downgrade password:")
    }

    TextInput {
        id: textInputDowngradePassword
        objectName: "textInputDowngradePassword"
        x: page.columnX
        y: page.height * 1.0625
        width: page.columnWidth
        height: page.height * 0.06
        opacity: page.downgrade ? 1 : 0
        visible: opacity > 0
        enabled: page.downgrade
        color: theme.text
        echoMode: TextInput.Password
        font.family: theme.regular
        font.pointSize: height * 0.625
        text: ""
        activeFocusOnTab: true
        Accessible.role: Accessible.EditableText
        Accessible.name: textDowngradeTip.text.replace(/\s*[:：]\s*$/, "")
        onAccepted: page.wrongPassword = text !== "Morwe"
        onTextChanged: {
            page.wrongPassword = false
            if (text === "Morwe") {
                page.downgrade = false
                page.passwordVerified()
            }
        }
    }

    FocusRing {
        target: textInputDowngradePassword
    }

    Text {
        id: textWrongPassword
        objectName: "textWrongPassword"
        x: page.columnX
        y: textInputDowngradePassword.y + textInputDowngradePassword.height
        width: page.columnWidth
        height: page.height * 0.05
        opacity: page.wrongPassword ? 1 : 0
        visible: opacity > 0
        color: theme.accent
        font.family: theme.regular
        font.pointSize: height * 0.5
        text: qsTr("Wrong password: type it again.")
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }
}
