import QtQuick 2.6
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.4
import Drivers 1.0

// The wizard: a header band, one of five pages in the body band and the main button in the
// footer band. The state lives in mainFrame.state; the controller does the work and reports
// the end of a search or an installation through activeChanged.
ApplicationWindow {
    id: mainWindow
    objectName: "mainWindow"

    readonly property int headerHeight: Math.round(height * 0.148)
    readonly property int footerHeight: headerHeight
    readonly property int bodyHeight: height - (headerHeight + footerHeight)
    readonly property int bodyY: headerHeight

    // Leaves the current wizard state and enters the next one: pages, main button and the
    // values that each state starts with. Pages change at once, without transitions.
    function enterState(next) {
        var previous = mainFrame.state
        if (previous === "SEARCH_ERROR" || previous === "UPDATE_ERROR" || previous === "UPDATE_SUCCESS")
            pageStatus.state = "WELCOME"
        if (previous === "UPDATE") {
            pageUpdate.progress = 0
            pageUpdate.closeRefused = false
        }

        mainFrame.state = next
        if (next === "SEARCH") {
            pageDeviceFound.isModelL = false
            pageDeviceFound.downgrade = false
            pageStatus.isModelL = false
        } else if (next === "UPDATE") {
            pageUpdate.progress = 0
        }

        var statusShown = next === "SEARCH_ERROR" || next === "UPDATE_ERROR" || next === "UPDATE_SUCCESS"
        pageWelcome.opacity = next === "WELCOME" ? 1 : 0
        pageSearch.opacity = next === "SEARCH" ? 1 : 0
        pageDeviceFound.opacity = next === "DEVICE_FOUND" ? 1 : 0
        pageUpdate.opacity = next === "UPDATE" ? 1 : 0
        pageStatus.opacity = statusShown ? 1 : 0
        if (statusShown)
            pageStatus.state = next

        switch (next) {
        case "WELCOME":
            mainButton.text = qsTr("SCAN FOR DEVICES")
            break
        case "SEARCH":
            mainButton.text = qsTr("CANCEL")
            break
        case "DEVICE_FOUND":
            mainButton.text = qsTr("INSTALL UPDATE")
            break
        case "UPDATE":
            mainButton.text = qsTr("NO BUTTON")
            break
        default:
            mainButton.text = qsTr("MAIN MENU")
            break
        }
        mainButton.opacity = next === "UPDATE" ? 0 : 1
        // The keys always have a target: the main button wherever it shows.
        if (mainButton.opacity === 1)
            mainButton.forceActiveFocus()
    }

    // A search has ended with a unit: fill the device page and pick one of its three outcomes.
    function showDeviceFound() {
        enterState("DEVICE_FOUND")

        var logo = updateDriver.modelPicture
        var versionCurrent = updateDriver.versionCurrent
        var versionNew = updateDriver.versionNew
        pageDeviceFound.logo = logo
        pageDeviceFound.name = updateDriver.modelName
        pageDeviceFound.versionCurrent = versionCurrent
        pageDeviceFound.versionNew = versionNew

        if (logo === "/fmw/l/logo.jpg") {
            pageStatus.isModelL = true
            pageDeviceFound.isModelL = true
        }

        if (updateDriver.isUpdateAvailable()) {
            pageDeviceFound.status = qsTr("Update available")
        } else {
            pageDeviceFound.status = qsTr("No update necessary")
            mainButton.text = qsTr("INSTALL FIRMWARE")
            // A unit newer than the carried firmware: the button waits for the password.
            if (updateDriver.isDowngrade()) {
                pageDeviceFound.downgrade = true
                mainButton.opacity = 0
            }
        }
    }

    // Mouse, Space, Return and Enter all press the main button through here. A press right after
    // the caption changed was meant for the previous caption (the second click of a double click on
    // "SCAN FOR DEVICES" would cancel the search it started) and is dropped.
    function mainButtonActivated() {
        if (!timerMainButtonGuard.running)
            mainButtonPressed()
    }

    function mainButtonPressed() {
        switch (mainFrame.state) {
        case "WELCOME":
            if (updateDriver.isDriverAvailable()) {
                mainFrame.cancelPressed = false
                enterState("SEARCH")
            } else {
                mainFrame.opacity = 0
                messageDriverMissing.opacity = 1
            }
            break
        case "SEARCH":
            mainFrame.cancelPressed = true
            updateDriver.search(false)
            break
        case "DEVICE_FOUND":
            enterState("UPDATE")
            break
        case "SEARCH_ERROR":
        case "UPDATE_ERROR":
        case "UPDATE_SUCCESS":
            enterState("WELCOME")
            break
        }
    }

    visible: true
    width: 768
    height: 512
    minimumWidth: 768
    maximumWidth: 768
    minimumHeight: 512
    maximumHeight: 512
    color: "#000000"
    title: qsTr("quellmark Update Center")

    // Closing would leave the flash running unseen with the port held, and the unit half written.
    onClosing: {
        if (mainFrame.state === "UPDATE") {
            close.accepted = false
            pageUpdate.closeRefused = true
        }
    }
    Component.onCompleted: {
        // The first caption is not a change that a press could have been meant for.
        timerMainButtonGuard.stop()
        mainButton.forceActiveFocus()
    }

    FontLoader {
        id: fontDinotBlack
        objectName: "fontDinotBlack"
        source: "/font/DINOT-Black.otf"
    }
    FontLoader {
        id: fontDinotBold
        objectName: "fontDinotBold"
        source: "/font/DINOT-Bold.otf"
    }
    FontLoader {
        id: fontDinotLight
        objectName: "fontDinotLight"
        source: "/font/DINOT-Light.otf"
    }
    FontLoader {
        id: fontDinotMedium
        objectName: "fontDinotMedium"
        source: "/font/DINOT-Medium.otf"
    }
    FontLoader {
        id: fontDinotRegular
        objectName: "fontDinotRegular"
        source: "/font/DINOT-Regular.otf"
    }

    // The three page timers start at each showing of their page and stop when it is hidden.
    Timer {
        id: timerWelcome
        objectName: "timerWelcome"
        interval: 100
        repeat: false
        running: true
        onTriggered: updateDriver.search(false)
    }
    Timer {
        id: timerMainButtonGuard
        objectName: "timerMainButtonGuard"
        interval: 300
        repeat: false
    }
    Timer {
        id: timerSearchStartPostpone
        objectName: "timerSearchStartPostpone"
        interval: 500
        repeat: false
        onTriggered: updateDriver.search(true)
    }
    Timer {
        id: timerSearchStatusPostpone
        objectName: "timerSearchStatusPostpone"
        interval: 500
        repeat: false
        onTriggered: {
            if (updateDriver.result()) {
                showDeviceFound()
            } else if (mainFrame.cancelPressed) {
                enterState("WELCOME")
            } else {
                pageStatus.searchFailure = updateDriver.searchFailure
                enterState("SEARCH_ERROR")
            }
        }
    }
    Timer {
        id: timerUpdateStartPostpone
        objectName: "timerUpdateStartPostpone"
        interval: 500
        repeat: false
        onTriggered: {
            updateDriver.install()
            // Without a firmware for the unit no installation starts, and no end would ever be
            // reported: show the failure instead of waiting on this page for good.
            if (!updateDriver.active)
                enterState("UPDATE_ERROR")
        }
    }
    Timer {
        id: timerUpdateStatusPostpone
        objectName: "timerUpdateStatusPostpone"
        interval: 500
        repeat: false
        onTriggered: enterState(updateDriver.result() ? "UPDATE_SUCCESS" : "UPDATE_ERROR")
    }

    MessageDriverMissing {
        id: messageDriverMissing
        objectName: "messageDriverMissing"
        x: mainWindow.width * 0.3
        y: mainWindow.height * 0.4
        width: mainWindow.width * 0.4
        height: mainWindow.height * 0.2
        opacity: 0
        visible: opacity > 0
        enabled: opacity > 0
        onOpacityChanged: {
            if (opacity === 1)
                takeFocus()
        }

        onShowDocumentationChanged: {
            if (showDocumentation) {
                updateDriver.openDocumentationNatively()
                mainFrame.opacity = 1
                messageDriverMissing.opacity = 0
                messageDriverMissing.showDocumentation = false
                mainButton.forceActiveFocus()
            }
        }
    }

    Image {
        id: mainFrame
        objectName: "mainFrame"

        // The wizard state: WELCOME, SEARCH, SEARCH_ERROR, DEVICE_FOUND, UPDATE, UPDATE_ERROR
        // or UPDATE_SUCCESS.
        property string state: "WELCOME"
        // CANCEL was pressed during the current search.
        property bool cancelPressed: false

        x: 0
        y: 0
        width: mainWindow.width
        height: mainWindow.height
        source: "/img/main_frame.png"
        opacity: 1
        visible: opacity > 0
        enabled: opacity > 0

        PageWelcome {
            id: pageWelcome
            objectName: "pageWelcome"
            x: 0
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight
            opacity: 1
            visible: opacity > 0
            enabled: opacity > 0
            onOpacityChanged: opacity === 1 ? timerWelcome.restart() : timerWelcome.stop()
        }

        PageSearch {
            id: pageSearch
            objectName: "pageSearch"
            x: 0
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight
            opacity: 0
            visible: opacity > 0
            enabled: opacity > 0
            onOpacityChanged: opacity === 1 ? timerSearchStartPostpone.restart() : timerSearchStartPostpone.stop()
        }

        PageDeviceFound {
            id: pageDeviceFound
            objectName: "pageDeviceFound"
            x: 0
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight
            opacity: 0
            visible: opacity > 0
            enabled: opacity > 0
            onChangelogClicked: updateDriver.openChangelogNatively()
            onPasswordVerified: {
                mainButton.opacity = 1
                mainButton.forceActiveFocus()
            }
        }

        PageUpdate {
            id: pageUpdate
            objectName: "pageUpdate"
            x: 0
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight
            opacity: 0
            visible: opacity > 0
            enabled: opacity > 0
            onOpacityChanged: opacity === 1 ? timerUpdateStartPostpone.restart() : timerUpdateStartPostpone.stop()
        }

        PageStatus {
            id: pageStatus
            objectName: "pageStatus"
            x: 0
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight
            opacity: 0
            visible: opacity > 0
            enabled: opacity > 0
        }

        Button {
            id: mainButton
            objectName: "mainButton"
            width: mainWindow.width * 0.3
            height: mainWindow.footerHeight * 0.625
            x: mainWindow.width - width - mainWindow.footerHeight * 0.2
            y: mainWindow.height - mainWindow.footerHeight * 0.8
            opacity: 1
            visible: opacity > 0
            enabled: opacity > 0
            text: qsTr("SCAN FOR DEVICES")
            onTextChanged: timerMainButtonGuard.restart()
            onClicked: mainWindow.mainButtonActivated()
            Keys.onReturnPressed: mainWindow.mainButtonActivated()
            Keys.onEnterPressed: mainWindow.mainButtonActivated()

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

        FocusRing {
            target: mainButton
        }

        UpdateDriver {
            id: updateDriver
            objectName: "updateDriver"

            onProgressChanged: pageUpdate.progress = updateDriver.progress
            onActiveChanged: {
                if (updateDriver.active)
                    return
                if (mainFrame.state === "SEARCH")
                    timerSearchStatusPostpone.start()
                else if (mainFrame.state === "UPDATE")
                    timerUpdateStatusPostpone.start()
            }
        }
    }
}
