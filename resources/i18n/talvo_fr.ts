<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S, 800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Débranchez le câble USB
puis redémarrez le Talvo.</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L, 800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>Débranchez le câble USB,
puis la batterie, et redémarrez le Talvo L.</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>Langue</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>Choisir la langue de la fenêtre</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>Veuillez installer le pilote.</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>Impossible d&apos;ouvrir la notice.</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>LIRE LA NOTICE</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>CONTINUER</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>APPAREIL TROUVÉ</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>Version installée&#xa0;: </translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>Nouvelle version&#xa0;: </translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Nouveautés</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>Impossible d&apos;ouvrir les nouveautés.</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>Avant de continuer, vérifiez que la batterie est chargée au moins à moitié.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvo débranché&#xa0;: rebranchez-le pour continuer.</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>Le firmware du Talvo est plus récent que celui de ce programme. Le service après-vente vous donnera le code.</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>Code de rétrogradation&#xa0;:</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>Code incorrect&#xa0;: ressaisissez-le.</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>La dernière mise à jour de cet appareil n&apos;a pas abouti.</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>Il s&apos;agit d&apos;un %1, comme noté avant la mise à jour.</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>Choisissez votre appareil d&apos;après l&apos;image et la lettre après le numéro de modèle.</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>Un doute&#xa0;? Cherchez la lettre S ou L après le numéro de modèle sur l&apos;étiquette.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvo débranché&#xa0;: rebranchez-le pour le restaurer.</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>Recherche des appareils connectés…</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>Talvo trouvé, mais son port ne peut pas être ouvert</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>Talvo trouvé, mais son port est occupé</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>Désolé, le Talvo n&apos;a pas été détecté</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>La règle udev /usr/lib/udev/rules.d/60-talvo.rules vous donne l&apos;accès.</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>Veuillez d&apos;abord utiliser TalvoUpdater_4901.</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>Branchez le Talvo en USB et allumez-le, puis relancez la recherche via MENU.</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>Débranchez-le puis rebranchez-le&#xa0;; sans cette règle, réinstallez TalvoUpdater.</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>Pas d&apos;accès au port&#xa0;: fermez les autres programmes qui pourraient l&apos;utiliser.</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>Un autre programme occupe le port&#xa0;: fermez-le, puis relancez la recherche via MENU.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>Le Talvo peut encore être restauré&#xa0;: relancez la recherche via MENU.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>Le Talvo peut encore être restauré&#xa0;: rebranchez-le.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>Le Talvo n&apos;a plus de firmware&#xa0;: relancez la recherche via MENU pour RESTAURER.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>Le Talvo n&apos;a plus de firmware&#xa0;: rebranchez-le pour le restaurer.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvo débranché&#xa0;: rebranchez-le et relancez la recherche.</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>Veuillez éteindre le Talvo, débrancher le câble et contacter votre service après-vente ou votre distributeur pour obtenir de l&apos;aide.</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>Erreur&#xa0;: échec de la restauration</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>Erreur&#xa0;: échec de la mise à jour</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>Restauration réussie&#xa0;!</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>Mise à jour réussie&#xa0;!</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Débranchez le câble USB
puis redémarrez le Talvo.</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>RESTAURATION EN COURS</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>MISE À JOUR EN COURS</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>Progression de la restauration&#xa0;: %1&#xa0;%</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>Progression de la mise à jour&#xa0;: %1&#xa0;%</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>Veuillez ne pas débrancher l&apos;appareil avant la fin de la restauration.</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>Veuillez ne pas débrancher l&apos;appareil avant la fin de la mise à jour.</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>La fenêtre pourra être fermée une fois l&apos;installation terminée.</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>Bienvenue dans la mise à jour du Talvo</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>Veuillez suivre les étapes ci-dessous.</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>Éteignez votre Talvo et reliez-le à l&apos;ordinateur en USB.</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>Allumez le Talvo. Une fois qu&apos;il est prêt, cliquez sur «&#xa0;RECHERCHER&#xa0;».</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>RECHERCHER</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ANNULER</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>METTRE À JOUR</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>INSTALLER</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>AUCUN BOUTON</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>RESTAURER</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>MENU</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>Centre de mise à jour quellmark</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Mise à jour disponible</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>Aucune mise à jour requise</translation>
    </message>
</context>
</TS>
