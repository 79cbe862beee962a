// Start-up: the runtime files written into the working directory, and the program's first window.
#include "logcapture.h"
#include "startup.h"
#include "updatedriver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml>
#include <QtTest>

#include <sys/fsuid.h>
#include <unistd.h>

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

// Runs fn with file permissions checked as an ordinary user, also when the tests run as root
// (the filesystem uid is per thread and drops the capability to override permissions).
template <typename Fn> void asOrdinaryUser(Fn fn)
{
    const bool root = geteuid() == 0;
    if (root)
        setfsuid(65534);
    fn();
    if (root)
        setfsuid(0);
}

const char *const WINDOW_CREATED = "qt.scenegraph.general: Loading backend software";

struct Run
{
    bool windowCreated = false;
    int exitCode = 0;
    QString log;
};

// Starts the real program in dir and waits until its window exists or it exits.
Run runProgram(const QString &program, const QString &dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_LOGGING_RULES", "qt.scenegraph.general=true");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList());
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000 && process.state() == QProcess::Running &&
           !output.contains(WINDOW_CREATED)) {
        process.waitForReadyRead(200);
        output += process.readAll();
    }
    run.windowCreated = output.contains(WINDOW_CREATED);
    if (process.state() == QProcess::Running) {
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    output += process.readAll();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
    run.log = QString::fromLocal8Bit(output);
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
    void missingDescriptorFailsTheStart_data();
    void missingDescriptorFailsTheStart();
    void onlyTheMissingDescriptorFolderIsFilled();
    void extractFileReportsUnreadableSource();
    void extractFileKeepsDestinationThatCannotBeWritten();
    void extractFileTruncatesALongerDestination();

    void sceneLoadsWithDescriptorsInTheProgramFolder();
    void programOpensItsWindow_data();
    void programOpensItsWindow();
    void programExitsWithoutWindowWhenADescriptorIsMissing();

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

void StartupTest::missingDescriptorFailsTheStart_data()
{
    QTest::addColumn<QString>("descriptor");
    for (const QString &descriptor : DESCRIPTORS)
        QTest::newRow(qPrintable(descriptor)) << descriptor;
}

void StartupTest::missingDescriptorFailsTheStart()
{
    QFETCH(QString, descriptor);
    QVERIFY(createFiles());
    QVERIFY(QFile::remove(descriptor));
    // The folder still exists, so the descriptor is not written again.
    QVERIFY(!createFiles());
    QVERIFY(!QFile::exists(descriptor));
}

void StartupTest::onlyTheMissingDescriptorFolderIsFilled()
{
    QVERIFY(QDir().mkdir("QtQuick"));
    QVERIFY(createFiles() == false); // QtQuick exists without its descriptors
    QVERIFY(QFile::exists("QtQuick.2/qmldir"));
    QVERIFY(!QFile::exists("QtQuick/Controls/qmldir"));
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
    extractFile("QtQuick.2/qmldir", "out/", "imp/");
    QCOMPARE(readAll("out/QtQuick.2/qmldir"), readAll(":/imp/QtQuick.2/qmldir"));
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

void StartupTest::programExitsWithoutWindowWhenADescriptorIsMissing()
{
    QVERIFY(createFiles());
    QVERIFY(QFile::remove("QtQuick/Layouts/qmldir"));
    const Run run = runProgram(TALVO_APP_PATH, _dir->path());
    QVERIFY2(!run.windowCreated, qPrintable(run.log));
    QCOMPARE(run.exitCode, 255); // -1 as the process's exit status
    QVERIFY2(run.log.contains("createFiles() failed!"), qPrintable(run.log));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
