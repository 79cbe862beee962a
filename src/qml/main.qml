import QtQuick 2.6
import QtQuick.Controls 1.5
import Drivers 1.0
import Languages 1.0

// The wizard: a header band, one page at a time in the body band and the main button in the
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
        if (next !== "UPDATE")
            mainFrame.restoreFamily = 0
        // An outcome that was waiting when the search page was left belongs to no page now.
        if (previous === "SEARCH")
            timerSearchStatusPostpone.stop()

        mainFrame.state = next
        if (next === "SEARCH") {
            pageDeviceFound.batteryTip = false
            pageDeviceFound.downgrade = false
            pageStatus.restartNote = ""
            pageDeviceFound.unplugged = false
            pageRestore.unplugged = false
        } else if (next === "UPDATE") {
            pageUpdate.progress = 0
        } else if (next === "DEVICE_FOUND" || next === "RESTORE") {
            pageDeviceFound.changelogFailed = false
            // The search has just met the unit: a pull before the watch's first look is a change.
            timerPlugWatch.seen = 1
        } else if (next === "UPDATE_ERROR") {
            pageStatus.erased = updateDriver.erased
            pageStatus.unitPlugged = updateDriver.isUnitPlugged()
            // The plug watch goes on from this look: a replug before its next look still counts.
            timerPlugWatch.seen = pageStatus.unitPlugged ? 1 : 0
        }

        showPageOf(next)
        mainButton.opacity = next === "UPDATE" || (next === "RESTORE" && pageRestore.family === 0) ? 0 : 1
        // The keys always have a target: the main button wherever it shows.
        if (mainButton.opacity === 1)
            mainButton.forceActiveFocus()
    }

    // Shows the state's page and hides the others; the status page takes the state as its variant.
    function showPageOf(state) {
        var statusShown = state === "SEARCH_ERROR" || state === "UPDATE_ERROR" || state === "UPDATE_SUCCESS"
        pageWelcome.opacity = state === "WELCOME" ? 1 : 0
        pageSearch.opacity = state === "SEARCH" ? 1 : 0
        pageDeviceFound.opacity = state === "DEVICE_FOUND" ? 1 : 0
        pageUpdate.opacity = state === "UPDATE" ? 1 : 0
        pageRestore.opacity = state === "RESTORE" ? 1 : 0
        pageStatus.opacity = statusShown ? 1 : 0
        if (statusShown)
            pageStatus.state = state
    }

    // The main button's caption in each state; on the device page it says whether the carried
    // firmware is an update.
    function captionOf(state, updateAvailable) {
        switch (state) {
        case "WELCOME":
            return qsTr("SCAN FOR DEVICES")
        case "SEARCH":
            return qsTr("CANCEL")
        case "DEVICE_FOUND":
            return updateAvailable ? qsTr("INSTALL UPDATE") : qsTr("INSTALL FIRMWARE")
        case "UPDATE":
            return qsTr("NO BUTTON")
        case "RESTORE":
            return qsTr("RESTORE FIRMWARE")
        }
        return qsTr("MAIN MENU")
    }

    // A search has ended with a unit: fill the device page and pick one of its three outcomes.
    function showDeviceFound() {
        mainFrame.updateAvailable = true
        enterState("DEVICE_FOUND")

        // `logo` is the page's name for the unit's picture.
        pageDeviceFound.logo = updateDriver.modelPicture
        pageDeviceFound.name = updateDriver.modelName
        pageDeviceFound.versionCurrent = updateDriver.versionCurrent
        pageDeviceFound.versionNew = updateDriver.versionNew

        var row = familyOf(updateDriver.modelType)
        if (row) {
            pageStatus.restartNote = row.restartNote
            pageDeviceFound.batteryTip = row.batteryTip
        }

        if (!updateDriver.isUpdateAvailable()) {
            mainFrame.updateAvailable = false
            // A unit newer than the carried firmware: the button waits for the password.
            if (updateDriver.isDowngrade()) {
                pageDeviceFound.downgrade = true
                mainButton.opacity = 0
            }
        }
    }

    // The controller's row of the family table for TargetInfo's family number; undefined for none.
    function familyOf(family) {
        return updateDriver.families.find(function (row) { return row.family === family })
    }

    // A search has ended with a unit in its loader: offer to restore it, with the family that the
    // journal noted for it preselected.
    function showRestore() {
        pageRestore.knownModel = updateDriver.restoreModel
        pageRestore.family = updateDriver.restoreFamily
        enterState("RESTORE")
        if (mainButton.opacity === 0)
            pageRestore.takeFocus()
    }

    // MAIN MENU and Escape where the wizard waits for a decision about a unit it found.
    function backToMainMenu() {
        if (mainFrame.state !== "DEVICE_FOUND" && mainFrame.state !== "RESTORE")
            return
        pageDeviceFound.downgrade = false
        enterState("WELCOME")
    }

    // The driver-missing message gives way to the frame again.
    function closeDriverMessage() {
        mainFrame.opacity = 1
        messageDriverMissing.opacity = 0
        messageDriverMissing.documentationFailed = false
    }

    function startSearch() {
        mainFrame.cancelPressed = false
        enterState("SEARCH")
    }

    // A change of the port list seen by the plug watch: a unit plugged in starts a search where
    // the wizard waits for one; a unit pulled out is told on the page that expected it.
    function unitPluggedChanged(plugged) {
        var state = mainFrame.state
        if (plugged) {
            if (state === "WELCOME" || state === "SEARCH_ERROR" || state === "UPDATE_ERROR"
                    || (state === "DEVICE_FOUND" && pageDeviceFound.unplugged)
                    || (state === "RESTORE" && pageRestore.unplugged))
                startSearch()
            return
        }
        if (state === "DEVICE_FOUND") {
            pageDeviceFound.downgrade = false
            pageDeviceFound.unplugged = true
            mainButton.opacity = 0
        } else if (state === "RESTORE") {
            pageRestore.unplugged = true
            mainButton.opacity = 0
        } else if (state === "UPDATE_ERROR") {
            pageStatus.unitPlugged = false
        }
    }

    function mainButtonPressed() {
        switch (mainFrame.state) {
        case "WELCOME":
            if (updateDriver.isDriverAvailable()) {
                startSearch()
            } else {
                mainFrame.opacity = 0
                messageDriverMissing.opacity = 1
            }
            break
        case "SEARCH":
            // The worker stops before its next probe attempt; whatever the search still reports
            // arrives on the welcome page, which shows none of it.
            mainFrame.cancelPressed = true
            updateDriver.search(false)
            enterState("WELCOME")
            break
        case "DEVICE_FOUND":
            mainFrame.restored = false
            enterState("UPDATE")
            break
        case "RESTORE":
            mainFrame.restored = true
            mainFrame.restoreFamily = pageRestore.family
            var row = familyOf(pageRestore.family)
            pageStatus.restartNote = row ? row.restartNote : ""
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
    color: theme.background
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
        mainButton.shownAt = 0
        mainButton.forceActiveFocus()
    }

    // Colours, the five font loaders and the button styles.
    Theme {
        id: theme
        objectName: "theme"
    }

    // Single-shot timers but for the plug watch. The three page timers start at each showing of
    // their page and stop when it is hidden.
    Timer {
        id: timerWelcome
        objectName: "timerWelcome"
        interval: 100
        running: true
        onTriggered: updateDriver.search(false)
    }
    Timer {
        id: timerSearchStartPostpone
        objectName: "timerSearchStartPostpone"
        interval: 500
        onTriggered: updateDriver.search(true)
    }
    Timer {
        id: timerSearchStatusPostpone
        objectName: "timerSearchStatusPostpone"
        interval: 500
        onTriggered: {
            if (updateDriver.result()) {
                showDeviceFound()
            } else if (mainFrame.cancelPressed) {
                enterState("WELCOME")
            } else if (updateDriver.searchFailure === UpdateDriver.SearchUnitInLoader) {
                showRestore()
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
        onTriggered: {
            if (mainFrame.restoreFamily !== 0)
                updateDriver.restore(mainFrame.restoreFamily)
            else
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
        // A loader that cannot verify took the whole image: nothing claims that it was checked.
        onTriggered: enterState(updateDriver.result() || updateDriver.cannotVerify ? "UPDATE_SUCCESS" : "UPDATE_ERROR")
    }

    // Watches the port list for the unit's identifiers, only while no search or installation holds
    // the worker and the wizard is shown.
    PlugWatch {
        id: timerPlugWatch
        objectName: "timerPlugWatch"
        running: mainFrame.enabled && ["WELCOME", "SEARCH_ERROR", "DEVICE_FOUND", "UPDATE_ERROR", "RESTORE"].indexOf(mainFrame.state) >= 0
        onTriggered: saw(updateDriver.isUnitPlugged())
        onPlugChanged: unitPluggedChanged(plugged)
    }

    MessageDriverMissing {
        id: messageDriverMissing
        objectName: "messageDriverMissing"
        x: mainWindow.width * 0.25
        y: mainWindow.height * 0.4
        width: mainWindow.width * 0.5
        height: mainWindow.height * 0.2
        opacity: 0
        onOpacityChanged: {
            if (opacity === 1)
                takeFocus()
        }

        onShowDocumentationChanged: {
            if (!showDocumentation)
                return
            var opened = updateDriver.openDocumentationNatively()
            messageDriverMissing.showDocumentation = false
            // Without a viewer the message stays, says so, and still offers the scan.
            if (!opened) {
                messageDriverMissing.documentationFailed = true
                return
            }
            closeDriverMessage()
            mainButton.forceActiveFocus()
        }
        onScanAnyway: {
            closeDriverMessage()
            startSearch()
        }
    }

    Image {
        id: mainFrame
        objectName: "mainFrame"

        // The wizard state: WELCOME, SEARCH, SEARCH_ERROR, DEVICE_FOUND, RESTORE, UPDATE,
        // UPDATE_ERROR or UPDATE_SUCCESS.
        property string state: "WELCOME"
        // CANCEL was pressed during the current search.
        property bool cancelPressed: false
        // The family that RESTORE FIRMWARE restores on the UPDATE page; 0 for an installation.
        property int restoreFamily: 0
        // The unit found carries an older firmware than this program (the device page's outcome).
        property bool updateAvailable: true
        // The last operation on the UPDATE page was a restore, for the status page's words.
        property bool restored: false

        width: mainWindow.width
        height: mainWindow.height
        source: "/img/main_frame.png"
        Keys.onEscapePressed: mainWindow.backToMainMenu()
        opacity: 1
        visible: opacity > 0
        enabled: opacity > 0

        // The body band between header and footer: each page fills it, one page shown at a time.
        Item {
            id: body
            objectName: "body"
            y: mainWindow.bodyY
            width: mainWindow.width
            height: mainWindow.bodyHeight

            PageWelcome {
                id: pageWelcome
                objectName: "pageWelcome"
                opacity: 1
                onOpacityChanged: opacity === 1 ? timerWelcome.restart() : timerWelcome.stop()
            }

            PageSearch {
                id: pageSearch
                objectName: "pageSearch"
                onOpacityChanged: opacity === 1 ? timerSearchStartPostpone.restart() : timerSearchStartPostpone.stop()
            }

            PageDeviceFound {
                id: pageDeviceFound
                objectName: "pageDeviceFound"
                status: mainFrame.updateAvailable ? qsTr("Update available") : qsTr("No update necessary")
                onChangelogClicked: changelogFailed = !updateDriver.openChangelogNatively()
                onPasswordVerified: {
                    mainButton.opacity = 1
                    mainButton.forceActiveFocus()
                }
            }

            PageUpdate {
                id: pageUpdate
                objectName: "pageUpdate"
                onOpacityChanged: opacity === 1 ? timerUpdateStartPostpone.restart() : timerUpdateStartPostpone.stop()
                restoring: mainFrame.restoreFamily !== 0
            }

            PageRestore {
                id: pageRestore
                objectName: "pageRestore"
                families: updateDriver.families
                onFamilyChanged: {
                    if (mainFrame.state === "RESTORE" && !unplugged && family !== 0) {
                        mainButton.opacity = 1
                        mainButton.forceActiveFocus()
                    }
                }
            }

            PageStatus {
                id: pageStatus
                objectName: "pageStatus"
                restoring: mainFrame.restored
            }
        }

        // The way back from a unit's page, at the footer's left, level with the main
        // button; before it for Tab, which reads the footer from left to right.
        MainButton {
            id: buttonMainMenu
            objectName: "buttonMainMenu"
            width: mainWindow.width * 0.17
            height: mainButton.height
            x: mainWindow.footerHeight * 0.2
            y: mainButton.y
            opacity: mainFrame.state === "DEVICE_FOUND" || mainFrame.state === "RESTORE" ? 1 : 0
            activeFocusOnTab: true
            text: qsTr("MAIN MENU")
            onActivated: mainWindow.backToMainMenu()
        }

        FocusRing {
            target: buttonMainMenu
        }

        MainButton {
            id: mainButton
            objectName: "mainButton"
            width: mainWindow.width * 0.3
            height: mainWindow.footerHeight * 0.625
            x: mainWindow.width - width - mainWindow.footerHeight * 0.2
            y: mainWindow.height - mainWindow.footerHeight * 0.8
            opacity: 1
            text: mainWindow.captionOf(mainFrame.state, mainFrame.updateAvailable)
            // Installing, installing after the password and restoring all write to the unit.
            writes: mainFrame.state === "DEVICE_FOUND" || mainFrame.state === "RESTORE"
            onActivated: mainWindow.mainButtonPressed()
            // Focus comes here with every outcome: a screen reader reads it with the caption.
            Accessible.description: pageStatus.opacity === 1 ? pageStatus.outcome : ""
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

    // The language of the window, in the header between its caption and the word mark; over the
    // pages and the driver message, and last for Tab.
    LanguageChoice {
        id: languageChoice
        objectName: "languageChoice"
        x: mainWindow.width * 0.5
        y: mainWindow.headerHeight * 0.3
        width: mainWindow.width * 0.14
        height: mainWindow.headerHeight * 0.4
        languages: Translation.offered
        current: Translation.current
        onChosen: Translation.choose(code)
    }
}
