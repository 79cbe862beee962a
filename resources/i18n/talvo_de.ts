<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S, 800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Bitte ziehen Sie das USB-Kabel ab
und starten Sie Talvo neu.</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L, 800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>Bitte ziehen Sie das USB-Kabel, dann den Akku ab
und starten Sie Talvo L neu.</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>Sprache des Fensters wählen</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>Bitte installieren Sie den Treiber.</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>Die Anleitung ließ sich nicht öffnen.</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>ANLEITUNG LESEN</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>DENNOCH SUCHEN</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>GERÄT GEFUNDEN</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>Installiert: </translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>Neue Version: </translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Änderungen</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>Die Änderungen ließen sich nicht öffnen.</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>Laden Sie den Akku vorher mindestens zur Hälfte.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvo getrennt: Schließen Sie es zum Fortfahren wieder an.</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>Die Firmware von Talvo ist neuer als die dieses Programms. Das Passwort erhalten Sie bei einer Servicestelle.</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>Downgrade-Passwort:</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>Passwort falsch, bitte neu eingeben.</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>Das letzte Update dieses Geräts wurde nicht abgeschlossen.</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>Es ist ein %1, wie vor dem Update vermerkt.</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>Wählen Sie Ihr Gerät anhand des Bildes und des Buchstabens nach der Modellnummer.</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>Unsicher? Auf dem Typenschild des Geräts steht nach der Modellnummer S oder L.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvo getrennt: Schließen Sie es zum Wiederherstellen wieder an.</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>Verbundene Geräte werden gesucht …</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>Talvo gefunden, aber der Port lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>Talvo gefunden, aber der Port ist belegt</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>Talvo wurde leider nicht erkannt</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>Die udev-Regel /usr/lib/udev/rules.d/60-talvo.rules gibt Ihnen Zugriff.</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>Bitte verwenden Sie zuerst TalvoUpdater_4901.</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>Schließen Sie Talvo per USB an, schalten Sie es ein, klicken Sie auf MENÜ und suchen Sie erneut.</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>Stecken Sie es ab und wieder an; fehlt die Regel, installieren Sie TalvoUpdater neu.</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>Kein Zugriff auf den Port: Beenden Sie andere Programme, die ihn nutzen könnten.</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>Ein Programm belegt den Port: Beenden Sie es, klicken Sie auf MENÜ und suchen Sie erneut.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>Talvo lässt sich noch wiederherstellen: Klicken Sie auf MENÜ und suchen Sie erneut.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>Talvo lässt sich noch wiederherstellen: Schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>Talvo hat keine Firmware mehr: Klicken Sie auf MENÜ, suchen Sie erneut und klicken Sie auf WIEDERHERSTELLEN.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>Talvo hat keine Firmware mehr: Schließen Sie es zum Wiederherstellen wieder an.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvo getrennt: Schließen Sie es wieder an und suchen Sie erneut.</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>Bitte schalten Sie Talvo aus, trennen Sie das Kabel und wenden Sie sich für weitere Hilfe an Ihre Servicestelle oder Ihren Händler.</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>Fehler: Wiederherstellung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>Fehler: Update fehlgeschlagen</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>Wiederherstellung erfolgreich!</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>Update erfolgreich!</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Bitte ziehen Sie das USB-Kabel ab
und starten Sie Talvo neu.</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>WIEDERHERSTELLUNG LÄUFT</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>UPDATE LÄUFT</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>Fortschritt der Wiederherstellung: %1 %</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>Fortschritt des Updates: %1 %</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>Bitte trennen Sie das Gerät erst nach Abschluss der Wiederherstellung.</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>Bitte trennen Sie das Gerät erst nach Abschluss des Updates.</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>Erst nach der Installation lässt sich das Fenster schließen.</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>Willkommen beim Talvo-Firmware-Update</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>Bitte folgen Sie den Schritten unten.</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>Schalten Sie Talvo aus und verbinden Sie es per USB mit dem PC.</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>Schalten Sie Talvo ein. Sobald es bereit ist, klicken Sie auf »GERÄTE SUCHEN«.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>GERÄTE SUCHEN</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ABBRECHEN</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>UPDATE STARTEN</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>INSTALLIEREN</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>KEIN BUTTON</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>WIEDERHERSTELLEN</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>MENÜ</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>quellmark Update-Center</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Update verfügbar</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>Kein Update nötig</translation>
    </message>
</context>
</TS>
