// Start-up: the runtime files written into the working directory, and the program's first window.
#include "accessibleprogressbar.h"
#include "debuglog.h"
#include "languages.h"
#include "logcapture.h"
#include "processsupport.h"
#include "startup.h"
#include "translation.h"
#include "updatedriver.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml>
#include <QtTest>

namespace {

const QStringList DESCRIPTORS = {"QtQuick/Controls/qmldir", "QtQuick/Layouts/qmldir",
                                 "QtQuick/Window.2/qmldir", "QtQuick.2/qmldir"};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

const char *const WINDOW_CREATED = "qt.scenegraph.general: Loading backend software";

struct Run
{
    bool windowCreated = false;
    int exitCode = 0;
    qint64 milliseconds = 0; // until the window or the exit
    QString log;
};

// Starts the real program in dir and waits until its window exists or it exits. setup: "--option"
// for the program, "NAME=value" ("NAME=" removes NAME) for its environment.
Run runProgram(const QString &program, const QString &dir, const QStringList &setup = {})
{
    TestProcess process;
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_LOGGING_RULES", "qt.scenegraph.general=true");
    for (const QString &item : setup) {
        if (!item.startsWith("--"))
            item.endsWith('=') ? env.remove(item.chopped(1))
                               : env.insert(item.section('=', 0, 0), item.section('=', 1));
    }
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, setup.filter(QRegularExpression("^--")));
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    QElapsedTimer clock;
    clock.start();
    run.windowCreated = !process.waitForLine(WINDOW_CREATED, 20000).isEmpty();
    run.milliseconds = clock.elapsed();
    process.stop(10000);
    run.exitCode = process.exitCodeOr(-1000);
    run.log = QString::fromLocal8Bit(process.output());
    return run;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartWritesArchiveAndDescriptors();
    void secondStartRewritesArchiveButKeepsEditedDescriptors();
    void missingOrCutShortDescriptorIsWrittenAgain_data();
    void missingOrCutShortDescriptorIsWrittenAgain();
    void anEmptyDescriptorFolderIsFilled();
    void extractFileReportsUnreadableSource();
    void extractFileKeepsDestinationThatCannotBeWritten();
    void extractFileTruncatesALongerDestination();

    void sceneLoadsWithDescriptorsInTheProgramFolder();
    void progressBarGivesScreenReadersItsValue();
    void programOpensItsWindow_data();
    void programOpensItsWindow();
    void programStartsOrSaysWhyNot_data();
    void programStartsOrSaysWhyNot();
    void programSpeaksTheLanguageOfItsUser_data();
    void programSpeaksTheLanguageOfItsUser();
    void aLanguageChosenInTheWindowIsKept();
    void runLogsKeepTheNewestOfEachProgram_data();
    void runLogsKeepTheNewestOfEachProgram();
    void changelogAndInstructionsOpenThroughXdgOpen();

private:
    QTemporaryDir *_dir = nullptr;
    QString _previousDir;
};

void StartupTest::init()
{
    _previousDir = QDir::currentPath();
    _dir = new QTemporaryDir;
    QVERIFY(_dir->isValid());
    QVERIFY(QDir::setCurrent(_dir->path()));
}

void StartupTest::cleanup()
{
    QDir::setCurrent(_previousDir);
    delete _dir;
    _dir = nullptr;
}

void StartupTest::firstStartWritesArchiveAndDescriptors()
{
    QVERIFY(createFiles());
    QCOMPARE(readAll("TalvoUpdater.zip"), readAll(":/TalvoUpdater.zip"));
    QVERIFY(readAll("TalvoUpdater.zip").startsWith("PK\x03\x04"));
    for (const QString &descriptor : DESCRIPTORS) {
        const QByteArray content = readAll(descriptor);
        QCOMPARE(content, readAll(":/imp/" + descriptor));
        QCOMPARE(content.count("\r\n"), 5);
    }
    QVERIFY(readAll("QtQuick.2/qmldir").startsWith("module QtQuick\r\nplugin qtquick2plugin\r\n"));
}

void StartupTest::secondStartRewritesArchiveButKeepsEditedDescriptors()
{
    QVERIFY(createFiles());
    QVERIFY(writeFile("TalvoUpdater.zip", "stale"));
    QVERIFY(writeFile("QtQuick/Layouts/qmldir", "edited by hand\n"));
    QVERIFY(writeFile("QtQuick.2/qmldir", "also edited\n"));

    QVERIFY(createFiles());
    QCOMPARE(readAll("TalvoUpdater.zip"), readAll(":/TalvoUpdater.zip"));
    QCOMPARE(readAll("QtQuick/Layouts/qmldir"), QByteArray("edited by hand\n"));
    QCOMPARE(readAll("QtQuick.2/qmldir"), QByteArray("also edited\n"));
}

void StartupTest::missingOrCutShortDescriptorIsWrittenAgain_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<int>("keptBytes"); // -1: deleted
    for (const QString &descriptor : DESCRIPTORS) {
        for (int kept : {-1, 0, 20})
            QTest::newRow(qPrintable(QString("%1 %2").arg(descriptor).arg(kept))) << descriptor << kept;
    }
}

void StartupTest::missingOrCutShortDescriptorIsWrittenAgain()
{
    QFETCH(QString, descriptor);
    QFETCH(int, keptBytes);
    QVERIFY(createFiles());
    QVERIFY(keptBytes < 0 ? QFile::remove(descriptor)
                          : writeFile(descriptor, readAll(descriptor).left(keptBytes)));
    QVERIFY(createFiles());
    QCOMPARE(readAll(descriptor), readAll(":/imp/" + descriptor));
}

void StartupTest::anEmptyDescriptorFolderIsFilled()
{
    QVERIFY(QDir().mkdir("QtQuick"));
    QVERIFY(createFiles());
    QVERIFY(QFile::exists("QtQuick.2/qmldir"));
    QVERIFY(QFile::exists("QtQuick/Controls/qmldir"));
}

void StartupTest::extractFileReportsUnreadableSource()
{
    LogCapture log;
    QVERIFY(writeFile("missing.txt", "old"));
    extractFile("missing.txt", "", "no/such/");
    QVERIFY(log.contains("file_R.open() failed!"));
    QCOMPARE(readAll("missing.txt"), QByteArray("old"));
}

void StartupTest::extractFileKeepsDestinationThatCannotBeWritten()
{
    QVERIFY(QDir().mkdir("locked"));
    QVERIFY(writeFile("locked/TalvoUpdater.zip", "old content"));
    QVERIFY(QFile::setPermissions("locked/TalvoUpdater.zip",
                                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(QFile::setPermissions("locked",
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

    LogCapture log;
    asOrdinaryUser([] { extractFile("TalvoUpdater.zip", "locked/", ""); });
    QVERIFY(log.contains("file_W.open() failed!"));
    QCOMPARE(readAll("locked/TalvoUpdater.zip"), QByteArray("old content"));
    QFile::setPermissions("locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void StartupTest::extractFileTruncatesALongerDestination()
{
    QVERIFY(QDir().mkpath("out/QtQuick.2"));
    QVERIFY(writeFile("out/QtQuick.2/qmldir", QByteArray(4096, 'x')));
    // Replaced by a rename, not rewritten in place: another instance reading the file meanwhile
    // (here, a reader that opened it before) never sees it half-written.
    QFile reader("out/QtQuick.2/qmldir");
    QVERIFY(reader.open(QIODevice::ReadOnly));
    extractFile("QtQuick.2/qmldir", "out/", "imp/");
    QCOMPARE(readAll("out/QtQuick.2/qmldir"), readAll(":/imp/QtQuick.2/qmldir"));
    QCOMPARE(reader.readAll(), QByteArray(4096, 'x'));
}

void StartupTest::sceneLoadsWithDescriptorsInTheProgramFolder()
{
    // The descriptors name plugins by class name; with a shared Qt they must not shadow the
    // installed modules when the program's own folder is the working folder.
    // Other test programs share this folder: leave nothing behind.
    const QString appDir = QCoreApplication::applicationDirPath();
    struct Cleanup
    {
        QString dir;
        void run() const
        {
            QDir(dir + "/QtQuick").removeRecursively();
            QDir(dir + "/QtQuick.2").removeRecursively();
            QFile::remove(dir + "/TalvoUpdater.zip");
        }
        ~Cleanup() { run(); }
    } cleanup{appDir};
    cleanup.run(); // leftovers of an interrupted run would keep the descriptors from being written
    QVERIFY(QDir::setCurrent(appDir));
    QVERIFY(createFiles());
    qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    Translation::registerType();
    QQmlApplicationEngine engine;
    prepareImportPaths(engine);
    engine.load(QUrl("qrc:/qml/main.qml"));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->size(), QSize(768, 512));
    QVERIFY(window->findChild<UpdateDriver *>());
}

void StartupTest::progressBarGivesScreenReadersItsValue()
{
    installAccessibleProgressBar();
    qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    Translation::registerType();
    QQmlApplicationEngine engine;
    prepareImportPaths(engine);
    engine.load(QUrl("qrc:/qml/main.qml"));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *bar = engine.rootObjects().first()->findChild<QQuickItem *>("progressBar");
    QVERIFY(bar);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(bar);
    QVERIFY(accessible && accessible->valueInterface());
    QCOMPARE(accessible->role(), QAccessible::ProgressBar);
    QVERIFY(accessible->parent() && accessible->parent()->indexOfChild(accessible) >= 0);
    engine.rootObjects().first()->findChild<QObject *>("pageUpdate")->setProperty("progress", 42);
    QCOMPARE(accessible->valueInterface()->currentValue().toInt(), 42);
    QCOMPARE(accessible->valueInterface()->minimumValue().toInt(), 0);
    QCOMPARE(accessible->valueInterface()->maximumValue().toInt(), 100);
    QCOMPARE(accessible->text(QAccessible::Name), QString("Update progress, 42 %"));
}

void StartupTest::programOpensItsWindow_data()
{
    QTest::addColumn<bool>("inProgramFolder");
    QTest::newRow("empty folder") << false;
    QTest::newRow("program's own folder") << true;
}

void StartupTest::programOpensItsWindow()
{
    QFETCH(bool, inProgramFolder);
    QString program = TALVO_APP_PATH;
    if (inProgramFolder) {
        program = _dir->filePath("TalvoUpdater");
        QVERIFY(QFile::copy(TALVO_APP_PATH, program));
    }
    for (int start = 1; start <= 2; ++start) {
        const Run run = runProgram(program, _dir->path());
        QVERIFY2(run.windowCreated, qPrintable(QString("start %1:\n%2").arg(start).arg(run.log)));
        QVERIFY2(!run.log.contains("failed to load component"), qPrintable(run.log));
        for (const QString &descriptor : DESCRIPTORS)
            QVERIFY(QFile::exists(descriptor));
        QVERIFY(QFile::exists("TalvoUpdater.zip"));
    }
}

void StartupTest::programStartsOrSaysWhyNot_data()
{
    // setup as for runProgram, and "in /proc": a working folder that cannot be written, "QtQuick
    // file": a file where a folder belongs. FILE: a path under a file.
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("filesIn"); // "working", "user", or empty: no window, exit -1
    QTest::addColumn<QString>("logLine");
    QTest::newRow("a descriptor missing") << QStringList() << "working"
                                          << "";
    QTest::newRow("read-only working folder") << QStringList{"in /proc"} << "user"
                                              << "";
    QTest::newRow("--user-folder") << QStringList{"--user-folder"} << "user"
                                   << "";
    QTest::newRow("a file where a folder belongs") << QStringList{"QtQuick file"} << "user"
                                                   << "Cannot write";
    QTest::newRow("no folder can be written") << QStringList{"in /proc", "XDG_DATA_HOME=FILE"} << ""
                                              << "createFiles() failed!";
    QTest::newRow("no OpenGL, no backend chosen") << QStringList{"QT_QUICK_BACKEND="} << "working"
                                                  << "No OpenGL";
    QTest::newRow("OpenGL chosen, none available") << QStringList{"QT_QUICK_BACKEND=default"} << ""
                                                   << "cannot draw its window";
    QTest::newRow("a module that does not load")
        << QStringList{"QML2_IMPORT_PATH=" TALVO_SOURCE_DIR "/tests/data/broken-import"} << ""
        << "plugin \"nosuchplugin\" not found";
}

void StartupTest::programStartsOrSaysWhyNot()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, filesIn);
    QFETCH(QString, logLine);
    QVERIFY(createFiles());
    QVERIFY(QFile::remove("QtQuick/Layouts/qmldir"));
    if (setup.removeAll("QtQuick file"))
        QVERIFY(QDir("QtQuick").removeRecursively() && writeFile("QtQuick", "a file"));
    const QString workingDir = setup.removeAll("in /proc") ? "/proc" : _dir->path();
    setup.prepend("XDG_DATA_HOME=" + _dir->filePath("data"));
    setup.replaceInStrings("=FILE", "=" + _dir->filePath("TalvoUpdater.zip/x"));
    const Run run = runProgram(TALVO_APP_PATH, workingDir, setup);
    QVERIFY2(run.windowCreated == !filesIn.isEmpty() && run.log.contains(logLine), qPrintable(run.log));
    if (filesIn.isEmpty()) {
        QCOMPARE(run.exitCode, 255); // -1 as the process's exit status
        QVERIFY2(run.milliseconds < 1000, qPrintable(QString::number(run.milliseconds)));
        return;
    }
    const QString userDir = _dir->filePath("data/Talvo/TalvoUpdater");
    for (const QString &descriptor : DESCRIPTORS)
        QCOMPARE(readAll((filesIn == "user" ? userDir : _dir->path()) + '/' + descriptor),
                 readAll(":/imp/" + descriptor));
    QCOMPARE(QFile::exists(_dir->filePath("QtQuick/Layouts/qmldir")), filesIn == "working");
    const QStringList logs = QDir(userDir + "/logs").entryList({"TalvoUpdater-*.log"});
    QCOMPARE(logs.size(), 1);
    const QRegularExpression stamped("\\dT[0-9:.]{12} " + QRegularExpression::escape(WINDOW_CREATED) + '\n');
    QVERIFY(stamped.match(readAll(userDir + "/logs/" + logs.first())).hasMatch());
}

void StartupTest::programSpeaksTheLanguageOfItsUser_data()
{
    // setup as for runProgram, and "kept CODE": the language chosen in the window before.
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("language");
    const QStringList none{"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG="};
    QTest::newRow("a region of an offered language") << none + QStringList{"LANGUAGE=de_AT:fr"} << "de";
    QTest::newRow("none offered") << none + QStringList{"LC_ALL=pt_BR.UTF-8"} << "en";
    QTest::newRow("messages before the language of the rest")
        << none + QStringList{"LC_MESSAGES=ja_JP.UTF-8", "LANG=de_DE.UTF-8"} << "ja";
    QTest::newRow("traditional Chinese is not simplified") << none + QStringList{"LANGUAGE=zh_TW:it"} << "it";
    QTest::newRow("Chinese of Singapore") << none + QStringList{"LANGUAGE=zh_SG"} << "zh_CN";
    QTest::newRow("English asked for") << none + QStringList{"LANGUAGE=fr", "--language=en"} << "en";
    QTest::newRow("an unknown language asked for")
        << none + QStringList{"LANGUAGE=fr", "--language=xx"} << "fr";
    QTest::newRow("the choice kept from the window") << none + QStringList{"LANGUAGE=fr", "kept es"} << "es";
    QTest::newRow("asked for over the choice kept") << none + QStringList{"kept es", "--language=it"} << "it";
    // Said in the log and on standard error ("says TEXT"); the window starts with the first language.
    QTest::newRow("asked for twice") << none + QStringList{"--language=de", "--language=it",
                                                           "says --language is given more than once: de is "
                                                           "taken, it is not"}
                                     << "de";
    QTest::newRow("asked for without a language")
        << none + QStringList{"LANGUAGE=fr", "--language", "says --language needs a value"} << "fr";
}

void StartupTest::programSpeaksTheLanguageOfItsUser()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, language);
    const QStringList kept = setup.filter(QRegularExpression("^kept "));
    const QString userDir = _dir->filePath("data/Talvo/TalvoUpdater");
    QVERIFY(QDir().mkpath(userDir));
    if (!kept.isEmpty())
        QVERIFY(writeFile(userDir + "/language", kept.first().mid(5).toLatin1() + '\n'));
    setup.removeAll(kept.value(0));
    const QStringList says = setup.filter(QRegularExpression("^says "));
    setup.removeAll(says.value(0));
    setup.prepend("XDG_DATA_HOME=" + _dir->filePath("data"));
    const Run run = runProgram(TALVO_APP_PATH, _dir->path(), setup);
    QVERIFY2(run.windowCreated && run.log.contains("Language: " + language + '\n'), qPrintable(run.log));
    QCOMPARE(run.log.contains("--language xx: not a language of this program"),
             setup.contains("--language=xx"));
    QVERIFY2(says.isEmpty() || run.log.contains(says.first().mid(5)), qPrintable(run.log));
}

void StartupTest::aLanguageChosenInTheWindowIsKept()
{
    QQmlEngine engine;
    auto *choice = new Translation(&engine);
    QVERIFY(choice->choose("it"));
    QCOMPARE(Languages::current(), QString("it"));
    QCOMPARE(Languages::saved(), QString("it"));
    QVERIFY(!choice->choose("pt"));
    QCOMPARE(Languages::current(), QString("it"));
    QVERIFY(choice->choose("en"));
    QCOMPARE(Languages::saved(), QString("en"));
    delete choice;
}

void StartupTest::runLogsKeepTheNewestOfEachProgram_data()
{
    QTest::addColumn<QString>("named"); // the date in the earlier runs' names
    QTest::newRow("earlier runs") << "2020-01-01";
    // A clock that was wrong: the names must not make the newest runs' files go.
    QTest::newRow("runs named with a date to come") << "2099-01-01";
}

void StartupTest::runLogsKeepTheNewestOfEachProgram()
{
    QFETCH(QString, named);
    qputenv("XDG_DATA_HOME", _dir->filePath("data").toUtf8());
    const QDir logs(DebugLog::folder());
    const auto old = [&](int i) { return QString("talvo-flash-%1T00-00-00_%2.log").arg(named).arg(i); };
    QVERIFY(logs.mkpath(".") && writeFile(logs.filePath("TalvoUpdater-2020-01-01T00-00-00.log"), ""));
    for (int i = 2; i <= 13; ++i) {
        QFile log(logs.filePath(old(i)));
        QVERIFY(log.open(QIODevice::WriteOnly) &&
                log.setFileTime(QDateTime::currentDateTime().addSecs(i * 60 - 3600),
                                QFileDevice::FileModificationTime));
    }
    const QString first = DebugLog::openRunLog("talvo-flash"), second = DebugLog::openRunLog("talvo-flash");
    QVERIFY(!first.isEmpty() && first != second); // two runs of the same second: a file each
    const QStringList kept = logs.entryList(QDir::Files);
    QCOMPARE(kept.size(), 1 + DebugLog::KEPT_RUN_LOGS);
    QVERIFY(!kept.contains(old(5)) && kept.contains(old(6)) && kept.contains(QFileInfo(first).fileName()));
}

void StartupTest::changelogAndInstructionsOpenThroughXdgOpen()
{
    if (QGuiApplication::platformName() != "xcb")
        QSKIP("needs a display: run under xvfb-run with -platform xcb");
    // The desktop's opener, as on a desktop without its own: xdg-open with a handler of our own.
    const QString record = _dir->filePath("opened.txt"), handler = _dir->filePath("record.sh");
    QVERIFY(writeFile(handler, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + record.toUtf8() + "\n"));
    QVERIFY(QFile::setPermissions(handler, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir().mkpath("data/applications") && QDir().mkpath("config"));
    QVERIFY(writeFile("data/applications/record.desktop",
                      "[Desktop Entry]\nType=Application\nName=Record\nExec=" + handler.toUtf8() +
                          " %f\nMimeType=text/plain;application/pdf;\n"));
    QVERIFY(writeFile("config/mimeapps.list",
                      "[Default Applications]\ntext/plain=record.desktop\napplication/pdf=record.desktop\n"));
    qputenv("XDG_DATA_HOME", _dir->filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", _dir->filePath("config").toUtf8());
    UpdateDriver::setDocumentOpener(&openWithDesktop); // as runTalvoUpdater() does
    UpdateDriver driver;
    driver.versionHandle("Talvo 400 S", "49.05");
    driver.openChangelogNatively();
    driver.openDocumentationNatively();
    QStringList opened;
    QTRY_COMPARE_WITH_TIMEOUT(
        (opened = QString::fromUtf8(readAll(record)).split('\n', Qt::SkipEmptyParts), opened.sort(), opened),
        QStringList({_dir->filePath(UpdateDriver::_documentationLocal),
                     _dir->filePath(UpdateDriver::_changelogLocal)}),
        20000);
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
