import QtQuick 2.6
import QtTest 1.1

// A user walks the wizard against a simulated unit: real controller, real worker, real loader
// protocol over a pseudo-terminal. Only the user's clicks and keys are simulated.
TestCase {
    id: testCase
    name: "EndToEnd"
    when: windowShown

    // A full installation moves about half a megabyte of frames through the line and waits for
    // every reply: allow it plenty of time.
    readonly property int installTimeoutMs: 180000
    readonly property int searchTimeoutMs: 20000

    property var win: null

    function item(objectName) {
        var found = findChild(win, objectName)
        verify(found, objectName)
        return found
    }

    function openWizard() {
        var component = Qt.createComponent("qrc:/qml/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        win = createTemporaryObject(component, testCase)
        verify(win)
        win.requestActivate()
        tryCompare(win, "active", true)
    }

    function press() {
        tryVerify(function () { return item("mainButton").ready() }, 3000)
        mouseClick(item("mainButton"))
    }

    function scanToDevicePage() {
        compare(item("mainFrame").state, "WELCOME")
        compare(item("mainButton").text, "SCAN FOR DEVICES")
        press()
        compare(item("mainFrame").state, "SEARCH")
        var frame = item("mainFrame")
        tryVerify(function () { return frame.state !== "SEARCH" }, searchTimeoutMs, "the search ends")
        compare(frame.state, "DEVICE_FOUND")
        verify(simulatedUnit.handshakesAnswered() >= 1)
    }

    function installToTheEnd(caption) {
        var button = item("mainButton")
        compare(button.text, caption)
        compare(button.opacity, 1)
        press()
        compare(item("mainFrame").state, "UPDATE")
        compare(item("textUpdatePercentage").text, "0%")
        var bar = item("progressBar")
        tryVerify(function () { return bar.value > 0 && bar.value < 100 }, searchTimeoutMs,
                  "progress shows while the image is written")
        tryCompare(bar, "value", 100, installTimeoutMs)
        compare(item("textUpdatePercentage").text, "100%")
        tryCompare(item("mainFrame"), "state", "UPDATE_SUCCESS", searchTimeoutMs)
        compare(item("textStatusHead").text, "Update successful!")
        compare(item("textStatusNote").text, "Please unplug the USB cable\nand restart Talvo.")
        verify(simulatedUnit.memoryHoldsImage(":/fmw/s/image.txt"), "the unit holds the S image")
        verify(simulatedUnit.blocksWritten() >= simulatedUnit.imageSize(":/fmw/s/image.txt") / 240)
        press()
        compare(item("mainFrame").state, "WELCOME")
    }

    function cleanup() {
        simulatedUnit.holdPort(false)
        win = null
    }

    function test_a_failed_search_tells_why_data() {
        return [{ tag: "port held", text: "49.05(1799),Talvo 400S", note: "",
                  line: "Another program holds the unit's port: close it, then press MAIN MENU and scan again." },
                // 52.02 sends its type as two words: one word is not a text this program reads.
                { tag: "an answer not understood", text: "52.02(2316),Talvo 400L",
                  note: "Please use the TalvoUpdater_4901 first.", line: "" }]
    }

    function test_a_failed_search_tells_why(data) {
        simulatedUnit.reset(data.text)
        if (data.tag === "port held")
            verify(simulatedUnit.holdPort(true))
        openWizard()
        press()
        tryCompare(item("mainFrame"), "state", "SEARCH_ERROR", searchTimeoutMs)
        compare([item("textStatusNote").text, item("textStatusReason").text], [data.note, data.line])
    }

    function test_a_cable_pulled_during_the_installation_then_plugged_in_again_data() {
        // A busy machine answers late now and then: the loader's first answer comes after the read's
        // 40 ms, as when the unit's side of the line waits for the processor.
        return [{ tag: "answered at once", lateMs: 0 }, { tag: "the loader's first answer late", lateMs: 120 }]
    }

    function test_a_cable_pulled_during_the_installation_then_plugged_in_again(data) {
        simulatedUnit.reset("49.05(1799),Talvo 400S")
        openWizard()
        item("timerPlugWatch").interval = 100
        scanToDevicePage()
        press()
        var bar = item("progressBar")
        tryVerify(function () { return bar.value >= 5 }, searchTimeoutMs, "the write has begun")
        compare(simulatedUnit.journalFamily(), 1, "noted before the erase")
        simulatedUnit.unplug()
        tryCompare(item("mainFrame"), "state", "UPDATE_ERROR", searchTimeoutMs)
        compare(item("textStatusNote").text, "Talvo has no firmware now: plug it in again to restore it.")
        // Whether the half-written image already holds a reset vector, the unit must stay in its loader.
        simulatedUnit.strand()
        simulatedUnit.delayLoaderVersion(data.lateMs)
        verify(simulatedUnit.plug())
        tryCompare(item("mainFrame"), "state", "RESTORE", searchTimeoutMs)
        compare(item("textRestoreNote").text, "It is a Talvo 400 S, as noted before the update.")
        compare(item("pageRestore").family, 1)
        press()
        tryCompare(item("mainFrame"), "state", "UPDATE_SUCCESS", installTimeoutMs)
        verify(simulatedUnit.memoryHoldsImage(":/fmw/s/image.txt"), "the unit holds the S image")
        compare(simulatedUnit.journalFamily(), 0, "cleared after the restore")
    }

    function test_update_of_an_S_unit_with_older_firmware_data() {
        return [{ tag: "checked by the loader's CRC", knowsCrc: true }, { tag: "a loader that cannot check it", knowsCrc: false }]
    }

    // The window reads replies by their length and ends with the loader's check of the image; a
    // loader without the check still gets its update, and no check is claimed.
    function test_update_of_an_S_unit_with_older_firmware(data) {
        simulatedUnit.reset("49.05(1799),Talvo 400S")
        simulatedUnit.setKnowsCrcCheck(data.knowsCrc)
        openWizard()
        scanToDevicePage()
        compare(item("textDeviceFoundName").text, "Talvo 400 S")
        compare(item("textDeviceFoundStatus").text, "Update available")
        compare(item("textDeviceFoundCurrent").text, "Currently Installed: 49.05")
        compare(item("textDeviceFoundNew").text, "New Version: 49.09")
        compare(item("imageDeviceFoundLogo").source, "qrc:/fmw/s/logo.jpg")
        compare(item("textModelLTip").opacity, 0)
        verify(!simulatedUnit.memoryHoldsImage(":/fmw/s/image.txt"), "not there before")
        installToTheEnd("INSTALL UPDATE")
        compare(findChild(win, "updateDriver").cannotVerify, !data.knowsCrc, "the check was asked for")
    }

    function test_downgrade_of_an_S_unit_after_the_password() {
        simulatedUnit.reset("52.01(1799),Talvo 400S")
        openWizard()
        scanToDevicePage()
        compare(item("textDeviceFoundName").text, "Talvo 400 S")
        compare(item("textDeviceFoundStatus").text, "No update necessary")
        compare(item("textDeviceFoundCurrent").text, "Currently Installed: 52.01")
        compare(item("textDeviceFoundNew").text, "New Version: 49.09")
        compare(item("mainButton").opacity, 0)
        var input = item("textInputDowngradePassword")
        verify(input.activeFocus)
        var password = "Morwe"
        for (var i = 0; i < password.length; ++i)
            keyClick(password[i])
        compare(input.opacity, 0)
        verify(item("mainButton").activeFocus)
        installToTheEnd("INSTALL FIRMWARE")
    }
}
