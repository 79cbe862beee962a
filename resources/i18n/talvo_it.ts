<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
