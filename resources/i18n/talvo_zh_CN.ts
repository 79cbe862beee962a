<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S、800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>请拔下 USB 数据线，
然后重启 Talvo。</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L、800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>请先拔下 USB 数据线，
再取下电池，然后重启 Talvo L。</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>选择窗口的显示语言</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>请安装驱动程序。</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>无法打开说明文档。</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>查看说明</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>仍然扫描</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>已找到设备</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>当前版本：</translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>新版本：</translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>更新日志</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>无法打开更新日志。</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>继续之前，请确保电池电量至少剩余一半。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvo 已拔出，请重新连接后继续。</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>Talvo 的固件版本高于本程序附带的版本。请向服务中心索取密码。</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>降级密码：</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>密码错误，请重新输入。</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>此设备上次更新未完成。</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>根据更新前的记录，此设备为 %1。</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>请根据图片和型号后的字母选择您的设备。</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>不确定？请查看设备标签上型号后的字母 S 或 L。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvo 已拔出，请重新连接后进行恢复。</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>正在扫描已连接的设备……</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>已找到 Talvo，但无法打开其端口</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>已找到 Talvo，但其端口正被占用</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>抱歉，未检测到 Talvo</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>udev 规则 /usr/lib/udev/rules.d/60-talvo.rules 可为您授予访问权限。</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>请先使用 TalvoUpdater_4901。</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>请用 USB 数据线连接 Talvo 并开机，然后按“主菜单”重新扫描。</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>请拔下后重新连接；若无该规则，请重新安装 TalvoUpdater。</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>无法访问设备端口：请关闭可能占用该端口的其他程序。</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>其他程序正在占用设备端口：请关闭该程序，然后按“主菜单”重新扫描。</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>Talvo 可以再次恢复：请按“主菜单”重新扫描。</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>Talvo 可以再次恢复：请重新连接。</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>Talvo 目前没有固件：请按“主菜单”重新扫描，再按“恢复固件”。</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>Talvo 目前没有固件：请重新连接后进行恢复。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvo 已拔出，请重新连接并扫描。</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>请关闭 Talvo 电源并断开数据线，然后联系当地服务中心或经销商获取进一步帮助。</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>错误：恢复失败</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>错误：更新失败</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>恢复成功！</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>更新成功！</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>请拔下 USB 数据线，
然后重启 Talvo。</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>正在恢复</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>正在更新</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>恢复进度，%1%</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>更新进度，%1%</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>恢复完成前，请勿断开设备连接。</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>更新完成前，请勿断开设备连接。</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>必须先完成安装，之后才能关闭窗口。</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>欢迎使用 Talvo 固件更新</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>请按以下步骤操作。</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>请关闭 Talvo，并通过 USB 将其连接到电脑。</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>请打开 Talvo。启动后，点击“扫描设备”。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>扫描设备</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>安装更新</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>安装固件</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>无按钮</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>恢复固件</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>主菜单</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>quellmark 更新中心</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>有可用更新</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>无需更新</translation>
    </message>
</context>
</TS>
