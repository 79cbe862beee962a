<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S, 800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Desconecte el cable USB
y reinicie el Talvo.</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L, 800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>Desconecte el cable USB,
luego la batería, y reinicie el Talvo L.</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>Elegir el idioma de la ventana</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>Instale el controlador.</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>No se pudieron abrir las instrucciones.</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>INSTRUCCIONES</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>BUSCAR AUN ASÍ</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>TALVO DETECTADO</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>Versión instalada: </translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>Nueva versión: </translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>Novedades</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>No se pudieron abrir las novedades.</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>Cargue la batería al menos a la mitad antes de continuar.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvo desconectado: vuelva a conectarlo para continuar.</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>El firmware del Talvo es más reciente que el de este programa. Un servicio técnico le dará la contraseña.</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>Contraseña de reversión:</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>Contraseña incorrecta, reinténtelo.</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>La última actualización de este dispositivo no terminó.</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>Es un %1, según se anotó antes de la actualización.</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>Elija su dispositivo por la imagen y la letra tras el número de modelo.</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>¿No está seguro? Busque la letra S o L tras el número de modelo en la etiqueta.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvo desconectado: vuelva a conectarlo para restaurarlo.</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>Buscando dispositivos conectados…</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>Talvo detectado, pero su puerto no se puede abrir</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>Talvo detectado, pero su puerto está en uso</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>Lo sentimos, no se ha detectado el Talvo</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>La regla udev /usr/lib/udev/rules.d/60-talvo.rules le da acceso.</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>Use primero TalvoUpdater_4901.</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>Conecte el Talvo con su cable USB y enciéndalo; luego pulse MENÚ y vuelva a buscar.</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>Desconéctelo y vuelva a conectarlo; sin esa regla, reinstale TalvoUpdater.</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>Sin acceso al puerto del dispositivo: cierre otros programas que puedan usarlo.</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>Otro programa ocupa el puerto: ciérrelo, luego pulse MENÚ y vuelva a buscar.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>El Talvo aún se puede restaurar: pulse MENÚ y vuelva a buscar.</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>El Talvo aún se puede restaurar: vuelva a conectarlo.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>El Talvo ya no tiene firmware: pulse MENÚ, vuelva a buscar y pulse RESTAURAR.</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>El Talvo ya no tiene firmware: vuelva a conectarlo para restaurarlo.</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvo desconectado: vuelva a conectarlo y busque de nuevo.</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>Apague el Talvo, desconecte el cable y, si necesita más ayuda, contacte con su servicio técnico o distribuidor local.</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>Error: la restauración ha fallado</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>Error: la actualización ha fallado</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>¡Restauración completada!</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>¡Actualización completada!</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>Desconecte el cable USB
y reinicie el Talvo.</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>RESTAURACIÓN EN CURSO</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>ACTUALIZACIÓN EN CURSO</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>Progreso de la restauración: %1 %</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>Progreso de la actualización: %1 %</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>No desconecte el dispositivo hasta que finalice la restauración.</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>No desconecte el dispositivo hasta que finalice la actualización.</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>Primero debe terminar la instalación: después podrá cerrar la ventana.</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>Bienvenido a la actualización del Talvo</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>Siga los pasos indicados abajo.</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>Apague el Talvo y conéctelo por USB al ordenador.</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>Encienda el Talvo. Cuando esté listo, haga clic en «BUSCAR».</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>BUSCAR</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>CANCELAR</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>ACTUALIZAR</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>INSTALAR</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>NINGÚN BOTÓN</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>RESTAURAR</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>MENÚ</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>Centro de actualizaciones quellmark</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Actualización disponible</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>No requiere actualización</translation>
    </message>
</context>
</TS>
