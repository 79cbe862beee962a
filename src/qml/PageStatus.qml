import QtQuick 2.6
import Drivers 1.0

// Final picture and texts after a failed search, a failed update or a successful update.
WizardPage {
    id: page

    // The wizard's outcome, in place of the item's own state name (the page has no visual states).
    property string state: "WELCOME"
    // How the unit's family restarts after an update (the family table's note); empty when the
    // family is not known, and then the plain note shows.
    property string restartNote: ""
    // Why the search found no usable unit (UpdateDriver.searchFailure), read when SEARCH_ERROR is
    // entered: it adds a line below the note when the ports told more than that nothing answered.
    property int searchFailure: UpdateDriver.SearchFailureUnknown
    // For UPDATE_ERROR: the failed installation had begun to write, so the unit has no firmware
    // now; and whether the unit's port is still there. Changes show at once.
    property bool erased: false
    property bool unitPlugged: true
    // The outcome as one sentence, for screen readers.
    readonly property string outcome: [textStatusHead.text, textStatusNote.text, textStatusReason.text].filter(function (t) { return t !== "" }).join(" ")

    // The outcome whose texts show: the last of SEARCH_ERROR, UPDATE_ERROR and UPDATE_SUCCESS that
    // `state` took; the main window's "WELCOME" on leaving keeps them.
    property string shown: ""
    // The operation was a restore of a unit left in its loader, not an installation.
    property bool restoring: false

    // A search that found the unit but could not use its port did detect Talvo.
    function searchFailureHead() {
        switch (searchFailure) {
        case UpdateDriver.SearchNoAccess:
            return qsTr("Talvo found, but its port cannot be opened")
        case UpdateDriver.SearchPortBusy:
            return qsTr("Talvo found, but its port is in use")
        }
        return qsTr("Sorry, we did not detect Talvo")
    }

    function searchFailureNote() {
        switch (searchFailure) {
        case UpdateDriver.SearchNoAccess:
            return Qt.platform.os === "linux" ? qsTr("The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.") : ""
        case UpdateDriver.SearchPortBusy:
            return ""
        case UpdateDriver.SearchNotUnderstood:
            // Something answered on the unit's port, but not as a unit this program knows: a
            // firmware older than this program reads.
            return qsTr("Please use the TalvoUpdater_4901 first.")
        }
        return qsTr("Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.")
    }

    function searchFailureText() {
        switch (searchFailure) {
        case UpdateDriver.SearchNoAccess:
            if (Qt.platform.os === "linux")
                return qsTr("Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.")
            return qsTr("No access to the unit's port: close other programs that may use it.")
        case UpdateDriver.SearchPortBusy:
            return qsTr("Another program holds the unit's port: close it, then press MAIN MENU and scan again.")
        }
        return ""
    }

    function updateErrorNote() {
        if (restoring)
            return unitPlugged ? qsTr("Talvo can be restored again: press MAIN MENU and scan again.")
                               : qsTr("Talvo can be restored again: plug it in again.")
        if (erased)
            return unitPlugged ? qsTr("Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.")
                               : qsTr("Talvo has no firmware now: plug it in again to restore it.")
        if (!unitPlugged)
            return qsTr("Talvo was unplugged: plug it in again and scan.")
        return qsTr("Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.")
    }

    onStateChanged: {
        if (state === "SEARCH_ERROR" || state === "UPDATE_ERROR" || state === "UPDATE_SUCCESS")
            shown = state
    }

    Accessible.role: Accessible.AlertMessage
    Accessible.name: outcome

    Image {
        id: imageStatus
        objectName: "imageStatus"
        width: height
        height: page.height * 0.375
        x: (page.width - width) / 2
        y: (page.height - height) / 2
        source: page.shown === "SEARCH_ERROR" || page.shown === "UPDATE_ERROR" ? "/img/status_error.jpg" : "/img/status_success.jpg"
    }

    Text {
        id: textStatusHead
        objectName: "textStatusHead"
        x: 0
        y: imageStatus.y + imageStatus.height
        width: page.width
        height: imageStatus.height * 0.375
        color: theme.accent
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.375
        text: {
            switch (page.shown) {
            case "SEARCH_ERROR":
                return page.searchFailureHead()
            case "UPDATE_ERROR":
                return page.restoring ? qsTr("Error: Restore failed") : qsTr("Error: Update failed")
            case "UPDATE_SUCCESS":
                return page.restoring ? qsTr("Restore successful!") : qsTr("Update successful!")
            }
            return ""
        }
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Text {
        id: textStatusNote
        objectName: "textStatusNote"
        x: 0
        y: textStatusHead.y + textStatusHead.height
        width: page.width
        height: textStatusHead.height * 0.625
        visible: text !== ""
        color: theme.secondary
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        font.family: theme.bold
        font.pointSize: height * 0.375
        text: {
            switch (page.shown) {
            case "SEARCH_ERROR":
                return page.searchFailureNote()
            case "UPDATE_ERROR":
                return page.updateErrorNote()
            case "UPDATE_SUCCESS":
                return page.restartNote !== "" ? qsTranslate("Families", page.restartNote) : qsTr("Please unplug the USB cable\nand restart Talvo.")
            }
            return ""
        }
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // Below the note, in the note's style, down to the bottom of the page.
    Text {
        id: textStatusReason
        objectName: "textStatusReason"
        x: 0
        y: textStatusNote.y + textStatusNote.height
        width: page.width
        height: page.height - y
        visible: text !== ""
        color: textStatusNote.color
        horizontalAlignment: Text.AlignHCenter
        font: textStatusNote.font
        text: page.shown === "SEARCH_ERROR" ? page.searchFailureText() : ""
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
