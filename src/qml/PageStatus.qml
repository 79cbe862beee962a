import QtQuick 2.6

// Final picture and texts after a failed search, a failed update or a successful update.
Item {
    id: page

    // The wizard's outcome, in place of the item's own state name (the page has no visual states).
    property string state: "WELCOME"
    property bool isModelL: false

    width: 768
    height: 358

    // Any other value, such as "WELCOME", keeps the texts of the last outcome.
    onStateChanged: {
        if (state === "SEARCH_ERROR") {
            imageStatus.source = "/img/status_error.jpg"
            textStatusHead.text = qsTr("Sorry, we did not detect Talvo")
            textStatusNote.text = qsTr("Please use the TalvoUpdater_4901 first.")
        } else if (state === "UPDATE_ERROR") {
            imageStatus.source = "/img/status_error.jpg"
            textStatusHead.text = qsTr("Error: Update failed")
            textStatusNote.text = qsTr("Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.")
        } else if (state === "UPDATE_SUCCESS") {
            imageStatus.source = "/img/status_success.jpg"
            textStatusHead.text = qsTr("Update successful!")
            if (isModelL)
                textStatusNote.text = qsTr("Please unplug the USB cable\nthen the battery and restart Talvo L.")
            else
                textStatusNote.text = qsTr("Please unplug the USB cable\nand restart Talvo.")
        }
    }

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
    }

    Text {
        id: textStatusNote
        objectName: "textStatusNote"
        x: 0
        y: textStatusHead.y + textStatusHead.height
        width: page.width
        height: textStatusHead.height * 0.625
        color: "#777777"
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        font.family: fontDinotBold.name
        font.pointSize: height * 0.375
        text: qsTr("...")
    }
}
