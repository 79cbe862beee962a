import QtQuick 2.6
import Drivers 1.0

// Final picture and texts after a failed search, a failed update or a successful update.
Item {
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

    function updateErrorNote() {
        if (erased)
            return unitPlugged ? qsTr("Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.")
                               : qsTr("Talvo has no firmware now: plug it in again to restore it.")
        if (!unitPlugged)
            return qsTr("Talvo was unplugged: plug it in again and scan.")
        return qsTr("Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.")
    }

    function searchFailureText() {
        switch (searchFailure) {
        case UpdateDriver.SearchNoAccess:
            if (Qt.platform.os === "linux")
                return qsTr("Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.")
            return qsTr("No access to the unit's port: close other programs that may use it.")
        case UpdateDriver.SearchPortBusy:
            return qsTr("Another program holds the unit's port: close it and scan again.")
        case UpdateDriver.SearchUnitInLoader:
            return qsTr("Its last update did not finish: a service station can restore it.")
        }
        return ""
    }

    width: 768
    height: 358

    // Any other value, such as "WELCOME", keeps the texts of the last outcome.
    onStateChanged: {
        if (state === "SEARCH_ERROR") {
            imageStatus.source = "/img/status_error.jpg"
            textStatusHead.text = searchFailureHead()
            if (searchFailure === UpdateDriver.SearchNoAccess && Qt.platform.os === "linux")
                textStatusNote.text = qsTr("The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.")
            else if (searchFailure === UpdateDriver.SearchNoAccess || searchFailure === UpdateDriver.SearchPortBusy)
                textStatusNote.text = ""
            else
                textStatusNote.text = qsTr("Please use the TalvoUpdater_4901 first.")
            textStatusReason.text = searchFailureText()
        } else if (state === "UPDATE_ERROR") {
            imageStatus.source = "/img/status_error.jpg"
            textStatusHead.text = qsTr("Error: Update failed")
            textStatusNote.text = updateErrorNote()
            textStatusReason.text = ""
        } else if (state === "UPDATE_SUCCESS") {
            imageStatus.source = "/img/status_success.jpg"
            textStatusHead.text = qsTr("Update successful!")
            textStatusReason.text = ""
            textStatusNote.text = restartNote !== "" ? restartNote : qsTr("Please unplug the USB cable\nand restart Talvo.")
        }
    }

    onErasedChanged: if (state === "UPDATE_ERROR") textStatusNote.text = updateErrorNote()
    onUnitPluggedChanged: if (state === "UPDATE_ERROR") textStatusNote.text = updateErrorNote()

    Accessible.role: Accessible.AlertMessage
    Accessible.name: outcome

    Image {
        id: imageStatus
        objectName: "imageStatus"
        width: height
        height: page.height * 0.375
        x: (page.width - width) / 2
        y: (page.height - height) / 2
        source: "/img/status_success.jpg"
    }

    Text {
        id: textStatusHead
        objectName: "textStatusHead"
        x: 0
        y: imageStatus.y + imageStatus.height
        width: page.width
        height: imageStatus.height * 0.375
        color: "#5c99b5"
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.375
        text: qsTr("Update status unknown!")
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
        color: "#777777"
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.375
        text: qsTr("...")
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
        text: ""
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
