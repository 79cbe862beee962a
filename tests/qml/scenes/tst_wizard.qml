import QtQuick 2.6
import QtTest 1.1
import Drivers 1.0
import Languages 1.0

// The wizard of qrc:/qml/main.qml against a scripted controller: states, transitions, timers,
// pages and what the user can and cannot do on them.
TestCase {
    id: testCase
    name: "Wizard"
    when: windowShown

    property var win: null
    property var driver: null

    readonly property var pageOfState: ({
        "WELCOME": "pageWelcome",
        "SEARCH": "pageSearch",
        "SEARCH_ERROR": "pageStatus",
        "DEVICE_FOUND": "pageDeviceFound",
        "UPDATE": "pageUpdate",
        "UPDATE_ERROR": "pageStatus",
        "UPDATE_SUCCESS": "pageStatus",
        "RESTORE": "pageRestore"
    })
    readonly property var pageNames: ["pageWelcome", "pageSearch", "pageDeviceFound", "pageUpdate", "pageStatus", "pageRestore"]

    // The four 500 ms timers run for 20 ms in tests that are not about timing.
    readonly property var postponeTimers: ["timerSearchStartPostpone", "timerSearchStatusPostpone",
        "timerUpdateStartPostpone", "timerUpdateStatusPostpone"]

    SignalSpy {
        id: passwordSpy
        signalName: "passwordVerified"
    }

    SignalSpy {
        id: documentationSpy
        signalName: "showDocumentationChanged"
    }

    function createWizard(options) {
        options = options || {}
        var component = Qt.createComponent("qrc:/qml/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        win = createTemporaryObject(component, testCase)
        verify(win, "main window")
        driver = findChild(win, "updateDriver")
        verify(driver, "controller")
        if (!options.realTimers) {
            for (var i = 0; i < postponeTimers.length; ++i)
                item(postponeTimers[i]).interval = 20
        }
        if (!options.noActivation) {
            win.requestActivate()
            tryCompare(win, "active", true)
        }
        return win
    }

    // Items made by a Repeater (the restore page's choices) have no object parent: they are found
    // in the window's item tree.
    function item(objectName) {
        var found = findChild(win.contentItem, objectName) || findChild(win, objectName)
        verify(found, objectName)
        return found
    }

    function wizardState() {
        return item("mainFrame").state
    }

    // The main button ignores presses for 300 ms after its caption changed, 500 ms where it writes.
    function waitForGuard() {
        tryVerify(function () { return item("mainButton").settled() }, 3000, "the caption has settled")
    }

    function press() {
        waitForGuard()
        mouseClick(item("mainButton"))
    }

    // A click at a window position, whatever lies there.
    function clickAt(x, y) {
        waitForGuard()
        mouseClick(item("mainFrame"), x, y)
    }

    function waitForCalls(call, count) {
        tryVerify(function () { return driver.count(call) >= count }, 3000,
                  call + " called " + count + " times")
    }

    function expectState(stateName) {
        tryCompare(item("mainFrame"), "state", stateName, 3000)
        for (var i = 0; i < pageNames.length; ++i) {
            var page = item(pageNames[i])
            var shown = pageNames[i] === pageOfState[stateName]
            compare(page.opacity, shown ? 1 : 0, pageNames[i] + " in " + stateName)
            compare(page.enabled, shown && item("mainFrame").enabled, pageNames[i] + " takes input in " + stateName)
        }
    }

    function expectButton(caption, shown) {
        var button = item("mainButton")
        compare(button.text, caption)
        compare(button.opacity, shown ? 1 : 0, "main button shown")
        compare(button.enabled && button.visible, shown, "main button takes input")
    }

    // From WELCOME to the device page of the unit the controller reports.
    function findUnit(unit) {
        driver.setUnit(unit.type, unit.name, unit.picture, unit.current, unit.carried)
        driver.setUpdateAvailable(unit.updateAvailable)
        var searches = driver.count("search(true)")
        press()
        expectState("SEARCH")
        waitForCalls("search(true)", searches + 1)
        driver.finish(true)
        expectState("DEVICE_FOUND")
    }

    // From the device page through the installation to a status page.
    function installFirmware(success) {
        var installs = driver.count("install()")
        press()
        expectState("UPDATE")
        waitForCalls("install()", installs + 1)
        driver.report(100)
        driver.finish(success)
        expectState(success ? "UPDATE_SUCCESS" : "UPDATE_ERROR")
    }

    function unitS(current) {
        return { type: 1, name: "Talvo 400 S", picture: "/fmw/s/logo.jpg", current: current || "49.07",
                 carried: "49.09", updateAvailable: true }
    }

    function unitL(current) {
        return { type: 2, name: "Talvo 400 L", picture: "/fmw/l/logo.jpg", current: current || "49.07",
                 carried: "49.09", updateAvailable: true }
    }

    function downgradeUnit() {
        var unit = unitS("52.05")
        unit.updateAvailable = false
        return unit
    }

    // Steps from WELCOME: "unit" to the device page, "noUnit" to the search error, "scan" into a
    // search, "install" through a successful installation; "update" and "back" press the button.
    function walk(path) {
        for (var i = 0; i < path.length; ++i) {
            if (path[i] === "unit") {
                findUnit(unitS())
            } else if (path[i] === "noUnit" || path[i] === "scan") {
                var searches = driver.count("search(true)")
                press()
                waitForCalls("search(true)", searches + 1)
                if (path[i] === "noUnit")
                    driver.finish(false)
            } else {
                path[i] === "install" ? installFirmware(true) : press()
            }
        }
    }

    function cleanup() {
        Translation.choose("en")
        passwordSpy.clear()
        passwordSpy.target = null
        documentationSpy.clear()
        documentationSpy.target = null
        win = null
        driver = null
    }

    // ---- start-up and timers -------------------------------------------------------------------

    function test_start_stops_any_search_once_after_100_ms() {
        var created = Date.now()
        createWizard({ realTimers: true, noActivation: true })
        expectState("WELCOME")
        expectButton("SCAN FOR DEVICES", true)
        compare(win.title, "quellmark Update Center")
        waitForCalls("search(false)", 1)
        verify(driver.lastCallTime("search(false)") - created >= 90, "not before 100 ms")
        wait(300)
        compare(driver.calls, ["search(false)"])
    }

    function test_scan_within_100_ms_stops_the_welcome_timer() {
        createWizard({ realTimers: true, noActivation: true })
        press()
        expectState("SEARCH")
        waitForCalls("search(true)", 1)
        compare(driver.count("search(false)"), 0)
    }

    function test_search_and_install_start_500_ms_after_their_page_shows() {
        createWizard({ realTimers: true })
        driver.setUnit(1, "Talvo 400 S", "/fmw/s/logo.jpg", "49.07", "49.09")
        var pressed = Date.now()
        press()
        waitForCalls("search(true)", 1)
        verify(driver.lastCallTime("search(true)") - pressed >= 450, "search(true) after 500 ms")

        var finished = Date.now()
        driver.finish(true)
        expectState("DEVICE_FOUND")
        verify(Date.now() - finished >= 450, "search outcome after 500 ms")

        pressed = Date.now()
        press()
        waitForCalls("install()", 1)
        verify(driver.lastCallTime("install()") - pressed >= 450, "install() after 500 ms")

        finished = Date.now()
        driver.finish(true)
        expectState("UPDATE_SUCCESS")
        verify(Date.now() - finished >= 450, "update outcome after 500 ms")
        compare(driver.count("result()"), 2)
    }

    // ---- transitions ---------------------------------------------------------------------------

    function test_transitions_data() {
        var again = ["press", "state WELCOME"]
        var installAt0 = ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "text textDeviceFoundCurrent Currently Installed: 49.07",
                          "text textDeviceFoundNew New Version: 49.09", "press", "state UPDATE", "text textUpdatePercentage 0%",
                          "value progressBar 0", "installStarted", "report 57", "value progressBar 57", "text textUpdatePercentage 57%",
                          "report 100", "text textUpdatePercentage 100%", "finish true", "state UPDATE_SUCCESS"].concat(again)
        return [
            { tag: "two installations in a row, each filled afresh and starting at 0 %", steps: installAt0.concat(installAt0) },
            { tag: "a new scan forgets an earlier cancel",
              steps: ["press", "searchStarted", "press", "finish false", "state WELCOME", "press", "searchStarted", "finish false",
                      "state SEARCH_ERROR"] },
            { tag: "the L unit's tip and note, then their absence for an S unit",
              steps: ["unit L", "press", "searchStarted", "finish true", "state DEVICE_FOUND", "opacity textModelLTip 1",
                      "text textModelLTip Please make sure that your battery is half full before continuing.", "press",
                      "installStarted", "finish true", "state UPDATE_SUCCESS", "head Update successful!",
                      "note Please unplug the USB cable\nthen the battery and restart Talvo L.",
                      "source imageStatus qrc:/img/status_success.jpg", "press", "unit S", "press", "searchStarted", "finish true",
                      "state DEVICE_FOUND", "opacity textModelLTip 0", "hidden textModelLTip", "press", "installStarted", "finish true",
                      "state UPDATE_SUCCESS", "note Please unplug the USB cable\nand restart Talvo."] },
            { tag: "an installation that does not start ends in the update error",
              steps: ["unit unknown", "press", "searchStarted", "finish true", "state DEVICE_FOUND", "type Morwe",
                      "set InstallStarts false", "press", "state UPDATE", "installStarted", "state UPDATE_ERROR",
                      "head Error: Update failed", "calls result() 1"].concat(again) },
            { tag: "the change log opens only while the device page shows",
              steps: ["changelog", "calls openChangelogNatively() 0", "press", "searchStarted", "finish true", "state DEVICE_FOUND",
                      "changelog", "calls openChangelogNatively() 1", "state DEVICE_FOUND"] },
            { tag: "scan enters SEARCH",
              steps: ["press", "state SEARCH", "button CANCEL shown", "searchStarted"] },
            { tag: "a search with a unit leads to the device page",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND",
                      "button INSTALL UPDATE shown"] },
            { tag: "a search without a unit leads to the search error and back",
              steps: ["press", "searchStarted", "finish false", "state SEARCH_ERROR", "button MAIN MENU shown",
                      "head Sorry, we did not detect Talvo", "note Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.",
                      "press", "state WELCOME", "button SCAN FOR DEVICES shown", "searchStopped"] },
            { tag: "an installation ending well leads to success and back",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "press", "state UPDATE",
                      "button NO BUTTON hidden", "installStarted", "finish true", "state UPDATE_SUCCESS",
                      "button MAIN MENU shown", "head Update successful!", "press", "state WELCOME",
                      "button SCAN FOR DEVICES shown"] },
            { tag: "a failed installation leads to the update error and back",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "press", "state UPDATE",
                      "installStarted", "finish false", "state UPDATE_ERROR", "button MAIN MENU shown",
                      "head Error: Update failed",
                      "note Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.",
                      "press", "state WELCOME"] },
            { tag: "a unit in its loader gets the restore page, with the family picked",
              steps: ["failure 3", "press", "searchStarted", "finish false", "state RESTORE", "button RESTORE FIRMWARE hidden",
                      "pick choiceL", "button RESTORE FIRMWARE shown", "press", "state UPDATE", "restoreStarted 2",
                      "finish true", "state UPDATE_SUCCESS", "note Please unplug the USB cable\nthen the battery and restart Talvo L."] },
            { tag: "the journal's family is preselected on the restore page",
              steps: ["journal 1", "failure 3", "press", "searchStarted", "finish false", "state RESTORE",
                      "button RESTORE FIRMWARE shown", "press", "state UPDATE", "restoreStarted 1"] },
            { tag: "a restore on a loader that cannot verify it ends on the success page",
              steps: ["journal 1", "failure 3", "press", "searchStarted", "finish false", "state RESTORE", "press",
                      "state UPDATE", "restoreStarted 1", "cannotVerify", "finish false", "state UPDATE_SUCCESS"] },
            { tag: "a unit plugged in on the welcome page starts a search",
              steps: ["plugged false", "plugged true", "state SEARCH", "searchStarted"] },
            { tag: "a unit pulled out on the device page is told, and plugged in again searched",
              steps: ["watch 60000", "press", "searchStarted", "finish true", "state DEVICE_FOUND", "watch 20", "plugged false",
                      "shown textDeviceFoundUnplugged", "button INSTALL UPDATE hidden", "plugged true", "state SEARCH"] },
            { tag: "a cable pulled after the erase: plug it in again, and the replug searches",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "press", "state UPDATE",
                      "installStarted", "erased true", "unplug", "finish false", "state UPDATE_ERROR",
                      "note Talvo has no firmware now: plug it in again to restore it.", "plugged true", "state SEARCH"] },
            { tag: "a failure after the erase with the unit still there",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "press", "state UPDATE",
                      "installStarted", "erased true", "finish false", "state UPDATE_ERROR",
                      "note Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.",
                      "described Error: Update failed Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.",
                      "press", "state WELCOME", "described "] },
            { tag: "Escape and MAIN MENU lead back from the device page",
              steps: ["press", "searchStarted", "finish true", "state DEVICE_FOUND", "text buttonMainMenu MAIN MENU", "key Escape",
                      "state WELCOME", "press", "searchStarted", "finish true", "state DEVICE_FOUND", "pick buttonMainMenu",
                      "state WELCOME", "calls install() 0"] },
            { tag: "the downgrade page says why, answers a wrong password and leads back",
              steps: ["unit downgrade", "press", "searchStarted", "finish true", "state DEVICE_FOUND", "fits textDowngradeNote",
                      "text textDowngradeNote Talvo's firmware is newer than this program's. A service station gives the password.",
                      "key X", "key Return", "opacity textWrongPassword 1", "text textWrongPassword Wrong password: type it again.",
                      "key Backspace", "opacity textWrongPassword 0", "key Escape", "state WELCOME",
                      "opacity textInputDowngradePassword 0", "unit downgrade", "press", "searchStarted", "finish true",
                      "state DEVICE_FOUND", "pick buttonMainMenu", "state WELCOME", "opacity buttonMainMenu 0"] },
            { tag: "a restore the journal does not know: help, then told as a restore",
              steps: ["failure 3", "press", "searchStarted", "finish false", "state RESTORE", "opacity textRestoreHelp 1",
                      "text textRestoreHelp Not sure? Look for the letter S or L after the model number on the unit's label.",
                      "fits textRestoreHelp", "key Escape", "state WELCOME", "press", "searchStarted", "finish false", "state RESTORE",
                      "pick choiceS", "press", "state UPDATE", "report 42", "text textUpdate RESTORE IN PROGRESS",
                      "text textUpdateNote Please do not disconnect your device until the restore is completed.",
                      "accessible progressBar Restore progress, 42 %", "finish true", "state UPDATE_SUCCESS",
                      "head Restore successful!", "note Please unplug the USB cable\nand restart Talvo."] },
            { tag: "a failed restore of a unit the journal knows can be restored again",
              steps: ["journal 1", "failure 3", "press", "searchStarted", "finish false", "state RESTORE", "opacity textRestoreHelp 0",
                      "pick buttonMainMenu", "state WELCOME", "press", "searchStarted", "finish false", "state RESTORE", "press",
                      "restoreStarted 1", "finish false", "state UPDATE_ERROR", "head Error: Restore failed",
                      "note Talvo can be restored again: press MAIN MENU and scan again."] },
            { tag: "documents that do not open are told, and the scan offered",
              steps: ["set DocumentsOpen false", "set DriverAvailable false", "press", "pick buttonReadInstruction", "opacity messageDriverMissing 1",
                      "text textPleaseInstallDriver Please install the driver. The instructions could not be opened.",
                      "fits textPleaseInstallDriver", "pick buttonScanAnyway", "opacity messageDriverMissing 0", "state SEARCH",
                      "searchStarted", "finish true", "state DEVICE_FOUND", "opacity textChangelogFailed 0", "changelog",
                      "opacity textChangelogFailed 1", "text textChangelogFailed The change log could not be opened.",
                      "fits textChangelogFailed"] },
            { tag: "a second search after an error starts afresh",
              steps: ["press", "searchStarted", "finish false", "state SEARCH_ERROR", "press", "state WELCOME",
                      "press", "state SEARCH", "finish true", "state DEVICE_FOUND"] }
        ]
    }

    function test_transitions(data) {
        createWizard()
        item("timerPlugWatch").interval = 20
        driver.setUnit(1, "Talvo 400 S", "/fmw/s/logo.jpg", "49.07", "49.09")
        var searches = 0, installs = 0, stops = driver.count("search(false)")
        for (var i = 0; i < data.steps.length; ++i) {
            var step = data.steps[i]
            var word = step.split(" ")[0]
            var rest = step.substring(word.length + 1)
            if (word === "press") {
                press()
            } else if (word === "state") {
                expectState(rest)
            } else if (word === "button") {
                var shown = rest.endsWith(" shown")
                expectButton(rest.substring(0, rest.lastIndexOf(" ")), shown)
            } else if (word === "searchStarted") {
                waitForCalls("search(true)", ++searches)
            } else if (word === "searchStopped") {
                waitForCalls("search(false)", stops + 1)
            } else if (word === "installStarted") {
                waitForCalls("install()", ++installs)
            } else if (word === "finish") {
                driver.finish(rest === "true")
            } else if (word === "head") {
                compare(item("textStatusHead").text, rest)
            } else if (word === "note") {
                compare(item("textStatusNote").text, rest)
            } else if (word === "failure") {
                driver.setSearchFailure(Number(rest))
            } else if (word === "journal") {
                driver.setRestoreFamily(Number(rest), "Talvo 400 S")
            } else if (word === "pick") {
                if (item(rest).ready)
                    tryVerify(item(rest).ready, 3000, rest + " ready")
                mouseClick(item(rest))
            } else if (word === "restoreStarted") {
                waitForCalls("restore(" + rest + ")", 1)
            } else if (word === "erased") {
                driver.setErased(rest === "true")
            } else if (word === "cannotVerify") {
                driver.setCannotVerify(true)
            } else if (word === "unplug") {
                driver.setUnitPlugged(false)
            } else if (word === "plugged") {
                // Set, then wait for the watch's next look.
                driver.setUnitPlugged(rest === "true")
                waitForCalls("isUnitPlugged()", driver.count("isUnitPlugged()") + 1)
            } else if (word === "watch") {
                item("timerPlugWatch").interval = Number(rest)
            } else if (word === "described") {
                compare(item("mainButton").Accessible.description, rest, "the outcome read with the focused button")
            } else if (word === "shown" || word === "hidden") {
                compare(item(rest).visible, word === "shown", rest)
            } else if (["text", "opacity", "accessible", "value", "source"].indexOf(word) >= 0) {
                var name = rest.split(" ")[0], target = item(name), value = rest.substring(name.length + 1)
                var read = { text: target.text, accessible: target.Accessible.name, source: target.source }
                compare(String(word in read ? read[word] : target[word]), value, step)
            } else if (word === "fits") {
                // Inside its own box, and that box inside the window.
                var box = item(rest), at = box.mapToItem(item("mainFrame"), 0, 0)
                verify(box.contentWidth <= box.width + 0.5 && box.contentHeight <= box.height + 0.5 && at.x >= 0
                       && at.x + box.width <= win.width && at.y + box.height <= win.height - win.footerHeight, step)
            } else if (word === "key") {
                keyClick(rest.length === 1 ? rest : Qt["Key_" + rest])
            } else if (word === "report") {
                driver.report(Number(rest))
            } else if (word === "calls") {
                compare(driver.count(rest.split(" ")[0]), Number(rest.split(" ")[1]), step)
            } else if (word === "unit") {
                var unit = rest === "S" ? unitS() : rest === "L" ? unitL() : downgradeUnit()
                if (rest === "unknown")
                    unit = { type: 0, name: "Talvo 999 X", picture: "", current: "", carried: "49.09", updateAvailable: false }
                driver.setUnit(unit.type, unit.name, unit.picture, unit.current, unit.carried)
                driver.setUpdateAvailable(unit.updateAvailable)
            } else if (word === "set") {
                // A setter of the controller's stand-in: "set DocumentsOpen false" calls setDocumentsOpen(false).
                var setting = rest.split(" ")
                driver["set" + setting[0]](setting[1] === "true")
            } else if (word === "type") {
                for (var letter of rest)
                    keyClick(letter)
            } else if (word === "changelog") {
                mouseClick(item("textDeviceFoundChangelog"), 5, item("textDeviceFoundChangelog").height / 2)
            } else {
                fail("unknown step " + step)
            }
        }
    }

    // ---- CANCEL --------------------------------------------------------------------------------

    function test_cancel_data() {
        return [
            { tag: "before the search starts, no unit", cancelEarly: true, result: false },
            { tag: "before the search starts, a unit found", cancelEarly: true, result: true },
            { tag: "after the search starts, no unit", cancelEarly: false, result: false },
            { tag: "after the search starts, a unit found", cancelEarly: false, result: true }
        ]
    }

    // CANCEL stops the search and leads back at once; what the search still reports is not shown.
    function test_cancel(data) {
        createWizard()
        driver.setUnit(1, "Talvo 400 S", "/fmw/s/logo.jpg", "49.07", "49.09")
        waitForCalls("search(false)", 1)
        item("timerSearchStartPostpone").interval = 1000
        press()
        expectState("SEARCH")
        if (!data.cancelEarly)
            waitForCalls("search(true)", 1)
        press()
        compare(driver.count("search(false)"), 2, "CANCEL stops the search")
        expectState("WELCOME")
        expectButton("SCAN FOR DEVICES", true)
        driver.finish(data.result)
        wait(1100)
        expectState("WELCOME")
        compare(driver.count("search(true)"), data.cancelEarly ? 0 : 1, "a cancelled search is not started late")
        compare(driver.count("result()"), 0, "the cancelled search's end is not read")
    }

    function test_cancel_while_the_outcome_is_postponed_returns_to_welcome_data() {
        return [{ tag: "no unit", result: false }, { tag: "a unit found", result: true }]
    }

    function test_cancel_while_the_outcome_is_postponed_returns_to_welcome(data) {
        createWizard({ realTimers: true })
        press()
        waitForCalls("search(true)", 1)
        driver.finish(data.result)
        verify(item("timerSearchStatusPostpone").running)
        press()
        expectState("WELCOME")
        wait(700)
        expectState("WELCOME")
    }

    function test_end_of_an_operation_elsewhere_changes_nothing_data() {
        return [
            { tag: "WELCOME", path: [] },
            { tag: "DEVICE_FOUND", path: ["unit"] },
            { tag: "SEARCH_ERROR", path: ["noUnit"] },
            { tag: "UPDATE_SUCCESS", path: ["unit", "install"] }
        ]
    }

    function test_end_of_an_operation_elsewhere_changes_nothing(data) {
        createWizard()
        walk(data.path)
        expectState(data.tag)
        var results = driver.count("result()")
        driver.finish(false)
        driver.finish(true)
        wait(200)
        expectState(data.tag)
        compare(driver.count("result()"), results)
    }

    // ---- driver-missing message -----------------------------------------------------------------

    function test_driver_missing_message_and_the_way_back() {
        createWizard()
        driver.setDriverAvailable(false)
        var message = item("messageDriverMissing")
        var frame = item("mainFrame")
        compare(message.opacity, 0)
        compare(message.visible, false)

        press()
        compare(driver.count("isDriverAvailable()"), 1)
        compare(frame.opacity, 0)
        compare(frame.visible || frame.enabled, false, "hidden frame takes no input")
        compare(message.opacity, 1)
        compare(message.enabled, true)
        expectState("WELCOME")
        compare(item("textPleaseInstallDriver").text, "Please install the driver.")
        compare(item("buttonReadInstruction").text, "READ INSTRUCTION")

        // The hidden main button does not answer.
        clickAt(637.6, 474.95)
        compare(driver.count("isDriverAvailable()"), 1)
        compare(frame.opacity, 0)

        documentationSpy.target = message
        mouseClick(item("buttonReadInstruction"))
        compare(driver.count("openDocumentationNatively()"), 1)
        compare(documentationSpy.count, 2, "set once, and set back")
        compare(message.showDocumentation, false)
        compare(message.opacity, 0)
        compare(frame.opacity, 1)
        expectState("WELCOME")
        expectButton("SCAN FOR DEVICES", true)

        driver.setDriverAvailable(true)
        press()
        compare(driver.count("isDriverAvailable()"), 2, "the driver is tested again")
        expectState("SEARCH")
    }

    function test_the_driver_message_does_not_stop_the_welcome_timer() {
        createWizard({ realTimers: true, noActivation: true })
        driver.setDriverAvailable(false)
        press()
        compare(item("messageDriverMissing").opacity, 1)
        compare(driver.count("search(false)"), 0)
        waitForCalls("search(false)", 1)
    }

    // ---- device page ---------------------------------------------------------------------------

    function test_device_page_outcomes_data() {
        return [
            { tag: "update", updateAvailable: true, current: "49.07", status: "Update available",
              caption: "INSTALL UPDATE", buttonShown: true },
            { tag: "reinstall", updateAvailable: false, current: "49.09", status: "No update necessary",
              caption: "INSTALL FIRMWARE", buttonShown: true },
            { tag: "downgrade", updateAvailable: false, current: "52.01", status: "No update necessary",
              caption: "INSTALL FIRMWARE", buttonShown: false },
            { tag: "version that cannot be compared", updateAvailable: false, current: "49",
              status: "No update necessary", caption: "INSTALL FIRMWARE", buttonShown: false },
            { tag: "the carried version written otherwise", updateAvailable: false, current: "49.9",
              status: "No update necessary", caption: "INSTALL FIRMWARE", buttonShown: true }
        ]
    }

    function test_device_page_outcomes(data) {
        createWizard()
        var unit = unitS(data.current)
        unit.updateAvailable = data.updateAvailable
        findUnit(unit)
        expectButton(data.caption, data.buttonShown)
        compare(item("textDeviceFoundStatus").text, data.status)
        compare(item("textDeviceFoundName").text, "Talvo 400 S")
        compare(item("textDeviceFoundCurrent").text, "Currently Installed: " + data.current)
        compare(item("textDeviceFoundNew").text, "New Version: 49.09")
        compare(item("imageDeviceFoundLogo").source, "qrc:/fmw/s/logo.jpg")
        compare(driver.count("isUpdateAvailable()"), 1)
        var reads = ["modelPicture", "modelName", "versionCurrent", "versionNew"]
        for (var i = 0; i < reads.length; ++i)
            compare(driver.reads(reads[i]), 1, reads[i] + " read once")

        var rowOpen = !data.buttonShown
        compare(item("textDowngradeTip").opacity, rowOpen ? 1 : 0)
        compare(item("textInputDowngradePassword").opacity, rowOpen ? 1 : 0)
        compare(item("textInputDowngradePassword").enabled, rowOpen)
        if (rowOpen)
            verify(item("textInputDowngradePassword").activeFocus, "the password row takes the keys")

        // Where the button lies: it starts the installation only when it is shown.
        clickAt(637.6, 474.95)
        if (data.buttonShown) {
            expectState("UPDATE")
            waitForCalls("install()", 1)
        } else {
            compare(wizardState(), "DEVICE_FOUND")
            wait(100)
            compare(driver.count("install()"), 0)
        }
    }

    function test_device_page_defaults_before_the_first_unit() {
        createWizard()
        compare(item("textDeviceFound").text, "DEVICE FOUND")
        compare(item("textDeviceFoundName").text, "unknown")
        compare(item("textDeviceFoundStatus").text, "Update available")
        compare(item("textDeviceFoundCurrent").text, "Currently Installed: ")
        compare(item("textDeviceFoundNew").text, "New Version: ")
        compare(item("imageDeviceFoundLogo").source, "qrc:/img/talvo.jpg")
        compare(item("textModelLTip").opacity, 0)
        verify(item("textDeviceFoundChangelog").text.indexOf(">Changelog</a>") > 0)
    }

    // ---- downgrade password ----------------------------------------------------------------------

    function test_password_typed_letter_by_letter() {
        createWizard()
        findUnit(downgradeUnit())
        var input = item("textInputDowngradePassword")
        passwordSpy.target = item("pageDeviceFound")
        verify(input.activeFocus)

        var letters = ["M", "o", "r", "w"]
        for (var i = 0; i < letters.length; ++i) {
            keyClick(letters[i])
            compare(input.text, "Morwe".substring(0, i + 1))
            compare(input.opacity, 1, "row open after " + input.text)
            compare(passwordSpy.count, 0)
            expectButton("INSTALL FIRMWARE", false)
        }
        verify(input.displayText.indexOf("M") < 0, "typed letters are masked")

        keyClick("e")
        compare(passwordSpy.count, 1)
        compare(input.opacity, 0)
        compare(item("textDowngradeTip").opacity, 0)
        compare(input.enabled, false)
        compare(input.text, "")
        compare(item("pageDeviceFound").downgrade, false)
        expectButton("INSTALL FIRMWARE", true)
        verify(item("mainButton").activeFocus, "the main button takes the keys")

        // The closed row takes no more letters, and emptying it verified nothing again.
        keyClick("x")
        compare(input.text, "")
        compare(passwordSpy.count, 1)

        waitForGuard()
        keyClick(Qt.Key_Space)
        expectState("UPDATE")
        waitForCalls("install()", 1)
    }

    function test_wrong_passwords_keep_the_row_open_data() {
        return [
            { tag: "lower case", typed: "morwe" },
            { tag: "upper case", typed: "MORWE" },
            { tag: "something before", typed: "xMorwe" },
            { tag: "a letter too few", typed: "Morw" }
        ]
    }

    function test_wrong_passwords_keep_the_row_open(data) {
        createWizard()
        findUnit(downgradeUnit())
        passwordSpy.target = item("pageDeviceFound")
        var input = item("textInputDowngradePassword")
        for (var i = 0; i < data.typed.length; ++i)
            keyClick(data.typed[i])
        compare(input.text, data.typed)
        compare(input.opacity, 1)
        compare(passwordSpy.count, 0)
        expectButton("INSTALL FIRMWARE", false)
    }

    // ---- update page -----------------------------------------------------------------------------

    function test_status_page_resets_between_outcomes() {
        createWizard()
        var status = item("pageStatus")
        press()
        waitForCalls("search(true)", 1)
        driver.finish(false)
        expectState("SEARCH_ERROR")
        compare(status.state, "SEARCH_ERROR")
        compare(item("imageStatus").source, "qrc:/img/status_error.jpg")
        press()
        expectState("WELCOME")
        compare(status.state, "WELCOME")
        // The hidden page keeps its texts.
        compare(item("textStatusHead").text, "Sorry, we did not detect Talvo")

        press()
        waitForCalls("search(true)", 2)
        driver.finish(false)
        expectState("SEARCH_ERROR")
        compare(item("textStatusHead").text, "Sorry, we did not detect Talvo")
    }

    // ---- search ring -----------------------------------------------------------------------------

    function test_ring_turns_only_while_the_search_page_shows() {
        createWizard()
        var ring = item("imageSearch")
        var animation = item("animationSearch")
        compare(animation.running, false)
        compare(ring.rotation, 0)
        for (var round = 0; round < 2; ++round) {
            press()
            expectState("SEARCH")
            verify(animation.running)
            compare(animation.from, 0)
            compare(animation.to, 360)
            compare(animation.duration, 1000)
            verify(ring.rotation < 90, "starts again at 0 degrees, not at " + ring.rotation)
            tryVerify(function () { return ring.rotation > 30 }, 3000, "the ring turns")
            waitForCalls("search(true)", round + 1)
            driver.finish(false)
            expectState("SEARCH_ERROR")
            compare(animation.running, false)
            compare(ring.rotation, 0)
            press()
            expectState("WELCOME")
        }
    }

    // ---- search failure, closing, keyboard, screen readers ----------------------------------------

    function test_search_error_tells_what_the_ports_said_data() {
        return [
            { tag: "nothing answered", failure: UpdateDriver.SearchFailureUnknown, line: "",
              note: "Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again." },
            { tag: "an answer from a firmware this program does not read", failure: UpdateDriver.SearchNotUnderstood, line: "" },
            { tag: "no access", failure: UpdateDriver.SearchNoAccess, head: "Talvo found, but its port cannot be opened",
              note: "The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.",
              line: "Unplug it and plug it in again; without that rule, reinstall TalvoUpdater." },
            { tag: "port held", failure: UpdateDriver.SearchPortBusy, head: "Talvo found, but its port is in use", note: "",
              line: "Another program holds the unit's port: close it, then press MAIN MENU and scan again." }
        ]
    }

    function test_search_error_tells_what_the_ports_said(data) {
        createWizard()
        driver.setSearchFailure(data.failure)
        walk(["noUnit"])
        expectState("SEARCH_ERROR")
        var line = item("textStatusReason"), note = item("textStatusNote")
        compare([item("textStatusHead").text, note.text, line.text],
                [data.head || "Sorry, we did not detect Talvo", data.note === undefined ? "Please use the TalvoUpdater_4901 first." : data.note, data.line])
        verify(line.y >= note.y + note.contentHeight && line.y + line.contentHeight <= win.bodyHeight, "below the note, in the body")
        verify(line.contentWidth <= win.width, "one line")
        walk(["back", "unit", "update"])
        driver.finish(false)
        expectState("UPDATE_ERROR")
        compare(line.text, "", "not on other outcomes")
    }

    function test_closing_waits_for_the_installation_data() {
        return [{ tag: "WELCOME", path: [] }, { tag: "SEARCH", path: ["scan"] }, { tag: "DEVICE_FOUND", path: ["unit"] },
                { tag: "UPDATE", path: ["unit", "update"] }, { tag: "UPDATE_SUCCESS", path: ["unit", "install"] }]
    }

    function test_closing_waits_for_the_installation(data) {
        createWizard()
        walk(data.path)
        expectState(data.tag)
        var line = item("textUpdateCloseRefused"), updating = data.tag === "UPDATE"
        compare([win.close(), win.visible, line.opacity], [!updating, updating, updating ? 1 : 0])
        compare(line.text, "The installation must finish first: the window can be closed after it.")
        if (updating) {
            driver.finish(true)
            expectState("UPDATE_SUCCESS")
            walk(["back", "unit", "update"])
            compare(line.opacity, 0, "gone at the next installation")
        }
    }

    function test_keys_press_the_focused_control_data() {
        return [{ tag: "Return", key: Qt.Key_Return }, { tag: "Enter", key: Qt.Key_Enter }, { tag: "Space", key: Qt.Key_Space }]
    }

    // No Tab is needed first; Tab reaches the change-log link, and what has the keys is marked.
    function test_keys_press_the_focused_control(data) {
        createWizard()
        var button = item("mainButton"), link = item("textDeviceFoundChangelog")
        // The window's activation reaches the focused item a moment after `active` turns true.
        tryVerify(function () { return button.activeFocus && item("mainButtonFocusRing").visible })
        driver.setDriverAvailable(false)
        keyClick(data.key)
        verify(item("buttonReadInstruction").activeFocus && item("buttonReadInstructionFocusRing").visible)
        keyClick(data.key)
        compare(driver.count("openDocumentationNatively()"), 1)
        driver.setDriverAvailable(true)
        keyClick(data.key)
        expectState("SEARCH")
        verify(button.activeFocus)
        driver.finish(true)
        expectState("DEVICE_FOUND")
        verify(button.activeFocus)
        keyClick(Qt.Key_Tab)
        verify(item("buttonLanguage").activeFocus && item("buttonLanguageFocusRing").visible, "the language, last in the window")
        keyClick(Qt.Key_Tab)
        verify(link.activeFocus && item("textDeviceFoundChangelogFocusRing").visible && !item("mainButtonFocusRing").visible)
        keyClick(data.key)
        compare(driver.count("openChangelogNatively()"), 1)
        keyClick(Qt.Key_Tab)
        verify(item("buttonMainMenu").activeFocus && item("buttonMainMenuFocusRing").visible)
        keyClick(Qt.Key_Tab)
        waitForGuard()
        keyClick(data.key)
        expectState("UPDATE")
    }

    function test_a_press_within_300_ms_of_a_new_caption_is_ignored_data() {
        return [{ tag: "double click" }, { tag: "Return twice", key: Qt.Key_Return }]
    }

    function test_a_press_within_300_ms_of_a_new_caption_is_ignored(data) {
        createWizard()
        waitForCalls("search(false)", 1)
        for (var i = 0; i < 2; ++i)
            data.key ? keyClick(data.key) : mouseClick(item("mainButton"))
        expectState("SEARCH")
        compare(driver.count("search(false)"), 1, "the second press did not cancel")
        press()
        compare(driver.count("search(false)"), 2, "a later press does")
    }

    // Each second press comes more than 300 ms after its caption changed: past the other captions' guard.
    function test_a_caption_that_writes_answers_only_its_own_press_data() {
        return [{ tag: "a double click's second click on INSTALL UPDATE", path: "device" },
                { tag: "Return on INSTALL UPDATE", path: "device", key: Qt.Key_Return },
                { tag: "a click as the password shows INSTALL FIRMWARE", path: "downgrade" },
                { tag: "Enter pressed on a family, released and pressed again on RESTORE FIRMWARE", path: "restore" }]
    }

    function test_a_caption_that_writes_answers_only_its_own_press(data) {
        createWizard()
        if (data.path === "restore") {
            driver.setSearchFailure(UpdateDriver.SearchUnitInLoader)
            walk(["noUnit"])
            tryVerify(function () { return item("choiceS").activeFocus })
            wait(350)
            keyPress(Qt.Key_Return)
            verify(item("mainButton").activeFocus && item("mainButton").visible, "RESTORE FIRMWARE shown")
            keyRelease(Qt.Key_Return)
            keyClick(Qt.Key_Return)
        } else {
            findUnit(data.path === "downgrade" ? downgradeUnit() : unitS())
            // The password's last letter shows INSTALL FIRMWARE 350 ms after the others.
            for (var letter of (data.path === "downgrade" ? "Morw" : ""))
                keyClick(letter)
            wait(350)
            if (data.path === "downgrade")
                keyClick("e")
            data.key ? keyClick(data.key) : mouseClick(item("mainButton"))
        }
        wait(50)
        compare(wizardState(), data.path === "restore" ? "RESTORE" : "DEVICE_FOUND", "nothing started")
        press()
        waitForCalls(data.path === "restore" ? "restore(1)" : "install()", 1)
    }

    function test_a_language_chosen_during_a_search_changes_only_the_words_data() {
        return [{ tag: "by mouse" }, { tag: "by keyboard", keys: true }]
    }

    function test_a_language_chosen_during_a_search_changes_only_the_words(data) {
        createWizard()
        walk(["scan"])
        var button = item("buttonLanguage"), list = item("listLanguages"), stops = driver.count("search(false)")
        var keys = function (first, second) { keyClick(first); keyClick(second) }
        data.keys ? keys(Qt.Key_Tab, Qt.Key_Return) : mouseClick(button)
        verify(list.visible && (!data.keys || list.activeFocus), "the list is open")
        data.keys ? keys(Qt.Key_Down, Qt.Key_Return) : mouseClick(item("language_de"))
        compare([Translation.current, list.visible, item("textLanguage").text], ["de", false, "Deutsch"])
        verify(item("mainButton").text !== "CANCEL", "the caption in German: " + item("mainButton").text)
        compare(item("mainButton").text, qsTranslate("main", "CANCEL"))
        expectState("SEARCH")
        compare(driver.count("search(false)"), stops, "the search goes on")
        driver.finish(true)
        expectState("DEVICE_FOUND")
        compare(item("textDeviceFoundStatus").text, qsTranslate("main", "Update available"))
        mouseClick(button)
        mouseClick(item("language_en"))
        compare([item("mainButton").text, item("textDeviceFoundStatus").text], ["INSTALL UPDATE", "Update available"])
    }

    function test_accessible_names_and_roles_data() {
        return [
            { tag: "mainButton", role: Accessible.Button, name: "SCAN FOR DEVICES" },
            { tag: "buttonReadInstruction", role: Accessible.Button, name: "READ INSTRUCTION" },
            { tag: "textDeviceFoundChangelog", role: Accessible.Link, name: "Changelog" },
            { tag: "textInputDowngradePassword", role: Accessible.EditableText, name: "Downgrade password" },
            { tag: "progressBar", role: Accessible.ProgressBar, name: "Update progress, 42 %" },
            { tag: "textStatusReason", role: Accessible.StaticText, name: "Another program holds the unit's port: close it, then press MAIN MENU and scan again." },
            { tag: "pageStatus", role: Accessible.AlertMessage, name: "Talvo found, but its port is in use Another program holds the unit's port: close it, then press MAIN MENU and scan again." },
            { tag: "textDeviceFoundName", role: Accessible.StaticText, name: "unknown" },
            { tag: "choiceS", role: Accessible.RadioButton, name: "Talvo 400 S, 800 S" },
            { tag: "buttonLanguage", role: Accessible.ComboBox, name: "Language: English" },
            { tag: "language_de", role: Accessible.RadioButton, name: "Deutsch" }
        ]
    }

    function test_accessible_names_and_roles(data) {
        createWizard()
        item("pageStatus").searchFailure = UpdateDriver.SearchPortBusy
        item("pageStatus").state = "SEARCH_ERROR"
        item("pageUpdate").progress = 42
        compare([item(data.tag).Accessible.role, item(data.tag).Accessible.name], [data.role, data.name])
    }

    // ---- fonts ------------------------------------------------------------------------------------

    function test_texts_use_the_fonts_of_the_bundle() {
        createWizard()
        var cuts = ["Black", "Bold", "Light", "Medium", "Regular"]
        for (var i = 0; i < cuts.length; ++i) {
            var loader = item("fontDinot" + cuts[i])
            tryCompare(loader, "status", FontLoader.Ready)
            compare(loader.name, "DINOT-" + cuts[i])
        }
        var bold = ["textWelcomeHead1", "textWelcomeHead3", "textDescription", "textSearch", "textDeviceFound",
                    "textDeviceFoundName", "textDeviceFoundStatus", "textUpdate", "textUpdatePercentage",
                    "textUpdateNote", "textStatusHead", "textStatusNote"]
        for (i = 0; i < bold.length; ++i)
            compare(item(bold[i]).font.family, "DINOT-Bold", bold[i])
        var regular = ["textDeviceFoundCurrent", "textDeviceFoundNew", "textDeviceFoundChangelog", "textModelLTip",
                       "textDowngradeTip", "textInputDowngradePassword", "textPleaseInstallDriver"]
        for (i = 0; i < regular.length; ++i)
            compare(item(regular[i]).font.family, "DINOT-Regular", regular[i])
        // Sizes follow the element heights: pixel sizes are whole numbers.
        compare(item("textWelcomeHead1").font.pixelSize, 32)
        compare(item("textDescription").font.pixelSize, 12)
        fuzzyCompare(item("textDeviceFoundName").font.pointSize, 18, 0.01)
        fuzzyCompare(item("textDeviceFoundCurrent").font.pointSize, 11.25, 0.01)
        fuzzyCompare(item("textPleaseInstallDriver").font.pointSize, 11, 0.01)
    }

    // ---- geometry at 768 x 512 --------------------------------------------------------------------

    function fuzzy(actual, expected, what) {
        fuzzyCompare(actual, expected, 0.01, what)
    }

    function expectBox(objectName, x, y, width, height) {
        var element = item(objectName)
        var origin = element.mapToItem(item("mainFrame"), 0, 0)
        fuzzy(origin.x, x, objectName + " x")
        fuzzy(origin.y, y, objectName + " y")
        fuzzy(element.width, width, objectName + " width")
        fuzzy(element.height, height, objectName + " height")
    }

    function test_geometry_of_the_fixed_window() {
        createWizard()
        compare(win.width, 768)
        compare(win.height, 512)
        compare(win.minimumWidth, 768)
        compare(win.maximumWidth, 768)
        compare(win.minimumHeight, 512)
        compare(win.maximumHeight, 512)
        compare(win.headerHeight, 76)
        compare(win.footerHeight, 76)
        compare(win.bodyHeight, 360)
        compare(win.bodyY, 76)
        expectBox("mainFrame", 0, 0, 768, 512)
        for (var i = 0; i < pageNames.length; ++i)
            expectBox(pageNames[i], 0, 76, 768, 360)
        expectBox("mainButton", 522.4, 451.2, 230.4, 47.5)
        expectBox("messageDriverMissing", 192, 204.8, 384, 102.4)
        expectBox("buttonMainMenu", 15.2, 451.2, 130.56, 47.5)

        // Device page: left column 144 to 384, right column 403.2 to 633.6.
        expectBox("textDeviceFound", 144, 76 + 36, 240, 18)
        expectBox("imageDeviceFoundLogo", 144, 76 + 108, 240, 144)
        expectBox("textDeviceFoundName", 403.2, 76 + 108, 230.4, 18)
        expectBox("textDeviceFoundStatus", 403.2, 76 + 144, 230.4, 18)
        expectBox("textDeviceFoundCurrent", 403.2, 76 + 162, 230.4, 18)
        expectBox("textDeviceFoundNew", 403.2, 76 + 180, 230.4, 18)
        expectBox("textDeviceFoundChangelog", 403.2, 76 + 198, 230.4, 18)
        expectBox("textModelLTip", 403.2, 76 + 234, 230.4, 36)
        // The password row lies in the footer band, level with the main button.
        expectBox("textDowngradeTip", 144, 76 + 382.5, 240, 21.6)
        expectBox("textInputDowngradePassword", 403.2, 76 + 382.5, 230.4, 21.6)

        // Welcome page: header 135, cards 135 x 216 at x 166 and 467.
        expectBox("rectangleHeader", 0, 76, 768, 135)
        // The families' line has a room of its own between the headline and the request.
        expectBox("textWelcomeHead1", 0, 76, 768, 60.75)
        expectBox("textWelcomeHead3", 0, 76 + 60.75, 768, 23.625)
        compare(item("textWelcomeHead3").text, "TALVO S · TALVO L")
        expectBox("itemWelcomeStep1", 166, 76 + 135, 135, 216)
        expectBox("itemWelcomeStep2", 467, 76 + 135, 135, 216)

        expectBox("imageSearch", 316.5, 76 + 112.5, 135, 135)
        expectBox("progressBar", 144, 76 + 168.75, 480, 22.5)
        expectBox("textUpdatePercentage", 294, 76 + 168.75, 180, 22.5)
        expectBox("textUpdate", 0, 76, 768, 84.375)
        expectBox("textUpdateNote", 0, 76 + 223, 768, 31.640625)
        expectBox("imageStatus", 316.5, 76 + 112.5, 135, 135)
        expectBox("textStatusHead", 0, 76 + 247.5, 768, 50.625)
        expectBox("textStatusNote", 0, 76 + 298.125, 768, 31.640625)
    }
}
