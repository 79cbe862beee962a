<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S, 800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Scollega il cavo USB
e riavvia Talvo.</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L, 800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>Scollega il cavo USB,
poi la batteria, e riavvia Talvo L.</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>Lingua</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>Scegli la lingua della finestra</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>Installa il driver.</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>Impossibile aprire le istruzioni.</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>LEGGI ISTRUZIONI</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>CERCA COMUNQUE</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>TALVO TROVATO</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>Versione installata: </translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>Nuova versione: </translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Novità</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>Impossibile aprire le novità.</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>Prima di continuare, verifica che la batteria sia carica almeno a metà.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvo scollegato: ricollegalo per continuare.</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>Il firmware di Talvo è più recente di quello di questo programma. Un centro assistenza ti fornirà la password.</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>Password di downgrade:</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>Password errata: digitala di nuovo.</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>L&apos;ultimo aggiornamento di questo dispositivo non è terminato.</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>È un %1, come registrato prima dell&apos;aggiornamento.</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>Scegli il tuo dispositivo dall&apos;immagine e dalla lettera dopo il numero di modello.</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>Non sei sicuro? Cerca la lettera S o L dopo il numero di modello sull&apos;etichetta.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvo scollegato: ricollegalo per ripristinarlo.</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>Ricerca dei dispositivi collegati…</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>Talvo trovato, ma non è possibile aprire la sua porta</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>Talvo trovato, ma la sua porta è in uso</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>Spiacenti, Talvo non è stato rilevato</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>La regola udev /usr/lib/udev/rules.d/60-talvo.rules ti dà l&apos;accesso.</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>Usa prima TalvoUpdater_4901.</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>Collega Talvo con il suo cavo USB e accendilo, poi premi MENU e cerca di nuovo.</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>Scollegalo e ricollegalo; se la regola manca, reinstalla TalvoUpdater.</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>Nessun accesso alla porta del dispositivo: chiudi gli altri programmi che potrebbero usarla.</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>Un altro programma occupa la porta: chiudilo, poi premi MENU e cerca di nuovo.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>Talvo può ancora essere ripristinato: premi MENU e cerca di nuovo.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>Talvo può ancora essere ripristinato: ricollegalo.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>Talvo ora è senza firmware: premi MENU, cerca di nuovo e scegli RIPRISTINA.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>Talvo ora è senza firmware: ricollegalo per ripristinarlo.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvo scollegato: ricollegalo e cerca di nuovo.</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>Spegni Talvo, scollega il cavo e, per ulteriore aiuto, contatta il centro assistenza o il distributore locale.</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>Errore: ripristino non riuscito</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>Errore: aggiornamento non riuscito</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>Ripristino completato!</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>Aggiornamento completato!</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Scollega il cavo USB
e riavvia Talvo.</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>RIPRISTINO IN CORSO</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>AGGIORNAMENTO IN CORSO</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>Avanzamento del ripristino: %1%</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>Avanzamento dell&apos;aggiornamento: %1%</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>Non scollegare il dispositivo finché il ripristino non è completato.</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>Non scollegare il dispositivo finché l&apos;aggiornamento non è completato.</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>Attendi la fine dell&apos;installazione: dopo potrai chiudere la finestra.</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>Benvenuto nell&apos;aggiornamento firmware Talvo</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>Segui i passaggi indicati qui sotto.</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>Spegni Talvo e collegalo al computer tramite USB.</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>Accendi Talvo. Quando è attivo, fai clic su «CERCA DISPOSITIVI».</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>CERCA DISPOSITIVI</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ANNULLA</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>AGGIORNA</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>INSTALLA</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>NESSUN PULSANTE</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>RIPRISTINA</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>MENU</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>Centro aggiornamenti quellmark</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Aggiornamento disponibile</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>Già aggiornato</translation>
    </message>
</context>
</TS>
