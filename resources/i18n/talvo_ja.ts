<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>Families</name>
    <message>
        <source>Talvo 400 S, 800 S</source>
        <translation>Talvo 400 S、800 S</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>USBケーブルを抜いて、
Talvoを再起動してください。</translation>
    </message>
    <message>
        <source>Talvo 400 L, 800 L</source>
        <translation>Talvo 400 L、800 L</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
then the battery and restart Talvo L.</source>
        <translation>USBケーブルを抜いてから
バッテリーを外し、Talvo Lを再起動してください。</translation>
    </message>
</context>
<context>
    <name>LanguageChoice</name>
    <message>
        <source>Language</source>
        <translation>言語</translation>
    </message>
    <message>
        <source>Choose the language of the window</source>
        <translation>ウィンドウの表示言語を選択します</translation>
    </message>
</context>
<context>
    <name>MessageDriverMissing</name>
    <message>
        <source>Please install the driver.</source>
        <translation>ドライバーをインストールしてください。</translation>
    </message>
    <message>
        <source>The instructions could not be opened.</source>
        <translation>説明書を開けませんでした。</translation>
    </message>
    <message>
        <source>READ INSTRUCTION</source>
        <translation>説明書を開く</translation>
    </message>
    <message>
        <source>SCAN ANYWAY</source>
        <translation>このままスキャン</translation>
    </message>
</context>
<context>
    <name>PageDeviceFound</name>
    <message>
        <source>DEVICE FOUND</source>
        <translation>デバイスを検出</translation>
    </message>
    <message>
        <source>Currently Installed: </source>
        <translation>現在のバージョン：</translation>
    </message>
    <message>
        <source>New Version: </source>
        <translation>新しいバージョン：</translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation>更新履歴</translation>
    </message>
    <message>
        <source>The change log could not be opened.</source>
        <translation>更新履歴を開けませんでした。</translation>
    </message>
    <message>
        <source>Please make sure that your battery is half full before continuing.</source>
        <translation>続行する前に、バッテリー残量が半分以上あるか確認してください。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to go on.</source>
        <translation>Talvoが取り外されました。続行するには再接続してください。</translation>
    </message>
    <message>
        <source>Talvo&apos;s firmware is newer than this program&apos;s. A service station gives the password.</source>
        <translation>Talvoのファームウェアは本プログラム収録版より新しいです。パスワードはサービスセンターで入手できます。</translation>
    </message>
    <message>
        <source>Downgrade password:</source>
        <translation>ダウングレード用パスワード</translation>
    </message>
    <message>
        <source>Wrong password: type it again.</source>
        <translation>パスワードが違います。</translation>
    </message>
</context>
<context>
    <name>PageRestore</name>
    <message>
        <source>This unit&apos;s last update did not finish.</source>
        <translation>このデバイスの前回のアップデートは完了していません。</translation>
    </message>
    <message>
        <source>It is a %1, as noted before the update.</source>
        <translation>アップデート前の記録によると、このデバイスは%1です。</translation>
    </message>
    <message>
        <source>Pick your unit by its picture and the letter after its model number.</source>
        <translation>画像と型番の後の文字を見て、お使いのデバイスを選択してください。</translation>
    </message>
    <message>
        <source>Not sure? Look for the letter S or L after the model number on the unit&apos;s label.</source>
        <translation>わからない場合は、デバイスのラベルで型番の後にある文字（SまたはL）を確認してください。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again to restore it.</source>
        <translation>Talvoが取り外されました。復元するには再接続してください。</translation>
    </message>
</context>
<context>
    <name>PageSearch</name>
    <message>
        <source>Searching connected devices...</source>
        <translation>接続されているデバイスをスキャンしています…</translation>
    </message>
</context>
<context>
    <name>PageStatus</name>
    <message>
        <source>Talvo found, but its port cannot be opened</source>
        <translation>Talvoを検出しましたが、ポートを開けません</translation>
    </message>
    <message>
        <source>Talvo found, but its port is in use</source>
        <translation>Talvoを検出しましたが、ポートが使用中です</translation>
    </message>
    <message>
        <source>Sorry, we did not detect Talvo</source>
        <translation>申し訳ありません。Talvoを検出できませんでした</translation>
    </message>
    <message>
        <source>The udev rule /usr/lib/udev/rules.d/60-talvo.rules gives you access.</source>
        <translation>udevルール /usr/lib/udev/rules.d/60-talvo.rules でアクセスが許可されます。</translation>
    </message>
    <message>
        <source>Please use the TalvoUpdater_4901 first.</source>
        <translation>先にTalvoUpdater_4901をご使用ください。</translation>
    </message>
    <message>
        <source>Connect Talvo with its USB cable and switch it on, then press MAIN MENU and scan again.</source>
        <translation>TalvoをUSBケーブルで接続して電源を入れ、「メニュー」を押して再スキャンしてください。</translation>
    </message>
    <message>
        <source>Unplug it and plug it in again; without that rule, reinstall TalvoUpdater.</source>
        <translation>Talvoを抜き差ししてください。ルールがない場合はTalvoUpdaterを再インストールしてください。</translation>
    </message>
    <message>
        <source>No access to the unit&apos;s port: close other programs that may use it.</source>
        <translation>デバイスのポートにアクセスできません。ポートを使用中のほかのプログラムを終了してください。</translation>
    </message>
    <message>
        <source>Another program holds the unit&apos;s port: close it, then press MAIN MENU and scan again.</source>
        <translation>別のプログラムがポートを使用中です。終了後に「メニュー」を押して再スキャンしてください。</translation>
    </message>
    <message>
        <source>Talvo can be restored again: press MAIN MENU and scan again.</source>
        <translation>Talvoは再度復元できます。「メニュー」を押して再スキャンしてください。</translation>
    </message>
    <message>
        <source>Talvo can be restored again: plug it in again.</source>
        <translation>Talvoは再度復元できます。再接続してください。</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: press MAIN MENU and scan again to RESTORE FIRMWARE.</source>
        <translation>Talvoにファームウェアがありません。「メニュー」で再スキャンし「復元開始」を押してください。</translation>
    </message>
    <message>
        <source>Talvo has no firmware now: plug it in again to restore it.</source>
        <translation>Talvoにファームウェアがありません。復元するには再接続してください。</translation>
    </message>
    <message>
        <source>Talvo was unplugged: plug it in again and scan.</source>
        <translation>Talvoが取り外されました。再接続してスキャンしてください。</translation>
    </message>
    <message>
        <source>Please unpower Talvo, disconnect the cable and contact your local service station or distributor for further help.</source>
        <translation>Talvoの電源を切り、ケーブルを外してお近くのサービスセンターか販売店にご相談ください。</translation>
    </message>
    <message>
        <source>Error: Restore failed</source>
        <translation>エラー：復元に失敗しました</translation>
    </message>
    <message>
        <source>Error: Update failed</source>
        <translation>エラー：アップデートに失敗しました</translation>
    </message>
    <message>
        <source>Restore successful!</source>
        <translation>復元が完了しました！</translation>
    </message>
    <message>
        <source>Update successful!</source>
        <translation>アップデートが完了しました！</translation>
    </message>
    <message>
        <source>Please unplug the USB cable
and restart Talvo.</source>
        <translation>USBケーブルを抜いて、
Talvoを再起動してください。</translation>
    </message>
</context>
<context>
    <name>PageUpdate</name>
    <message>
        <source>RESTORE IN PROGRESS</source>
        <translation>復元中</translation>
    </message>
    <message>
        <source>UPDATE IN PROGRESS</source>
        <translation>アップデート中</translation>
    </message>
    <message>
        <source>Restore progress, %1 %</source>
        <translation>復元の進行状況、%1%</translation>
    </message>
    <message>
        <source>Update progress, %1 %</source>
        <translation>アップデートの進行状況、%1%</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the restore is completed.</source>
        <translation>復元が完了するまでデバイスを取り外さないでください。</translation>
    </message>
    <message>
        <source>Please do not disconnect your device until the update is completed.</source>
        <translation>アップデートが完了するまでデバイスを取り外さないでください。</translation>
    </message>
    <message>
        <source>The installation must finish first: the window can be closed after it.</source>
        <translation>インストールが完了するまでウィンドウを閉じることはできません。</translation>
    </message>
</context>
<context>
    <name>PageWelcome</name>
    <message>
        <source>Welcome to the Talvo Firmware Update</source>
        <translation>Talvoファームウェアアップデートへようこそ</translation>
    </message>
    <message>
        <source>Please follow the steps below.</source>
        <translation>以下の手順に従ってください。</translation>
    </message>
    <message>
        <source>TALVO S · TALVO L</source>
        <translation>TALVO S · TALVO L</translation>
    </message>
    <message>
        <source>Turn off your Talvo and connect it via USB to your computer.</source>
        <translation>Talvoの電源を切り、USBでパソコンに接続してください。</translation>
    </message>
    <message>
        <source>Turn on the Talvo. When it&apos;s activated, click &apos;&apos;Scan for Devices&apos;&apos;</source>
        <translation>Talvoの電源を入れ、起動したら「スキャン開始」をクリックしてください。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>SCAN FOR DEVICES</source>
        <translation>スキャン開始</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>INSTALL UPDATE</source>
        <translation>アップデート開始</translation>
    </message>
    <message>
        <source>INSTALL FIRMWARE</source>
        <translation>インストール開始</translation>
    </message>
    <message>
        <source>NO BUTTON</source>
        <translation>ボタンなし</translation>
    </message>
    <message>
        <source>RESTORE FIRMWARE</source>
        <translation>復元開始</translation>
    </message>
    <message>
        <source>MAIN MENU</source>
        <translation>メニュー</translation>
    </message>
    <message>
        <source>quellmark Update Center</source>
        <translation>quellmark アップデートセンター</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>アップデートがあります</translation>
    </message>
    <message>
        <source>No update necessary</source>
        <translation>アップデートは不要です</translation>
    </message>
</context>
</TS>
