// The controller the scene talks to: its meta-object, state, requests to the worker, version
// comparison, file opening and driver checks.
#include "driverplatform.h"
#include "installjournal.h"
#include "logcapture.h"
#include "portenumerator.h"
#include "qml/scriptedupdatedriver.h"
#include "startup.h"
#include "updatedriver.h"

#include <QDesktopServices>
#include <QDir>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Stands in for the desktop: records the files handed over for opening.
class OpenedFiles : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class UpdateDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void propertiesAreReadOnlyInTheirOrder();
    void signalsAndSlotsAreInTheirOrder();
    void sceneTestStandInHasTheSameInterface();

    void updateAvailability_data();
    void updateAvailability();

    void searchRequestsTheUnitAndEndsWithTheWorkersResult();
    void stopRequestGoesToTheWorker();
    void installSendsTheFamilysImage_data();
    void installSendsTheFamilysImage();
    void installWithoutCatalogueEntryOnlyLogs();
    void progressAndResultAreRelayed();
    void modelPropertiesFollowTheReportedUnit();

    void openFileCopiesAndHandsTheCopyToTheDesktop();
    void openFileReportsFailuresAndOpensNothing();
    void changelogOfAnUnknownUnitIsNotOpened();

    void journalNamesOnlyKnownFamilies_data();
    void journalNamesOnlyKnownFamilies();
    void journalIsReadAndReplacedOnlyAsAPlainFile_data();
    void journalIsReadAndReplacedOnlyAsAPlainFile();

    void driverChecks();
    void aListedPortWithTheUnitsIdentifiersCountsAsADriver_data();
    void aListedPortWithTheUnitsIdentifiersCountsAsADriver();

private:
    OpenedFiles _opened;
    QTemporaryDir _dir;
    QString _previousDir;
};

void UpdateDriverTest::initTestCase()
{
    QDesktopServices::setUrlHandler("file", &_opened, "open");
    UpdateDriver::setDocumentOpener(&openWithDesktop); // as the window program does
    _previousDir = QDir::currentPath();
    QVERIFY(_dir.isValid());
    QVERIFY(QDir::setCurrent(_dir.path()));
}

void UpdateDriverTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("file");
    QDir::setCurrent(_previousDir);
}

namespace {

// The interface the scene sees, one line per property, method and enumeration, in declaration
// order; members named in `left out` are skipped.
QStringList interfaceOf(const QMetaObject &meta, const QStringList &leftOut = {})
{
    QStringList lines;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty p = meta.property(i);
        if (!leftOut.contains(p.name()))
            lines << QString("property %1 %2 notify=%3 writable=%4 resettable=%5")
                         .arg(p.typeName(), p.name(), p.notifySignal().methodSignature())
                         .arg(p.isWritable())
                         .arg(p.isResettable());
    }
    static const char *const kinds[] = {"method", "signal", "slot", "constructor"};
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (!leftOut.contains(m.methodSignature()))
            lines << QString("%1 %2 %3(%4) access=%5")
                         .arg(kinds[m.methodType()], m.typeName(), m.methodSignature(),
                              m.parameterNames().join(','))
                         .arg(m.access());
    }
    for (int i = meta.enumeratorOffset(); i < meta.enumeratorCount(); ++i) {
        const QMetaEnum e = meta.enumerator(i);
        QString line = QString("enum %1 flag=%2").arg(e.name()).arg(e.isFlag());
        for (int k = 0; k < e.keyCount(); ++k)
            line += QString(" %1=%2").arg(e.key(k)).arg(e.value(k));
        lines << line;
    }
    return lines;
}

} // namespace

void UpdateDriverTest::propertiesAreReadOnlyInTheirOrder()
{
    const QStringList expected = {"property bool active notify=activeChanged() writable=0 resettable=0",
                                  "property int progress notify=progressChanged() writable=0 resettable=0",
                                  "property int modelType notify= writable=0 resettable=0",
                                  "property QString modelName notify= writable=0 resettable=0",
                                  "property QString modelPicture notify= writable=0 resettable=0",
                                  "property QString versionCurrent notify= writable=0 resettable=0",
                                  "property QString versionNew notify= writable=0 resettable=0",
                                  "property SearchFailure searchFailure notify= writable=0 resettable=0",
                                  "property int restoreFamily notify= writable=0 resettable=0",
                                  "property QString restoreModel notify= writable=0 resettable=0",
                                  "property bool erased notify= writable=0 resettable=0",
                                  "property bool cannotVerify notify= writable=0 resettable=0",
                                  "property QVariantList families notify= writable=0 resettable=0"};
    QCOMPARE(interfaceOf(UpdateDriver::staticMetaObject).filter(QRegularExpression("^property ")), expected);
}

void UpdateDriverTest::signalsAndSlotsAreInTheirOrder()
{
    const QStringList expected = {
        "signal void activeChanged()() access=2",
        "signal void progressChanged()() access=2",
        "signal void searchDevice(int,int)(vendor,product) access=2",
        "signal void stopSearching()() access=2",
        "signal void installFirmware(QString,uint)(firmware,size) access=2",
        "signal void notedFamily(int)(family) access=2",
        "signal void journalNotWritten(QString)(warning) access=2",
        "signal void phaseChanged()() access=2",
        "slot bool isDriverAvailable()() access=2",
        "slot bool isDriverLoaded()() access=2",
        "slot void search(bool)(on) access=2",
        "slot void versionHandle(QString,QString)(modelName,version) access=2",
        "slot bool isUpdateAvailable()() access=2",
        "slot bool isDowngrade()() access=2",
        "slot bool openFileNatively(QString,QString)(resourceFile,outputFile) access=2",
        "slot bool openChangelogNatively()() access=2",
        "slot bool openDocumentationNatively()() access=2",
        "slot void install()() access=2",
        "slot void progressHandle(uint)(progress) access=2",
        "slot void resultHandle(bool)(result) access=2",
        "slot bool result()() access=2",
        "slot bool isUnitPlugged()() access=2",
        "slot bool restore(int)(family) access=2"};
    QCOMPARE(interfaceOf(UpdateDriver::staticMetaObject).filter(QRegularExpression("^(signal|slot|method) ")),
             expected);
}

// The scene tests' stand-in must offer what the scenes use of the real controller, in the same
// order and with the same types; only its recording and scripting members are its own.
void UpdateDriverTest::sceneTestStandInHasTheSameInterface()
{
    const QStringList standInsOwn = {"calls",
                                     "called()",
                                     "setDriverAvailable(bool)",
                                     "setUpdateAvailable(bool)",
                                     "setSearchFailure(int)",
                                     "setInstallStarts(bool)",
                                     "setRestoreFamily(int,QString)",
                                     "setErased(bool)",
                                     "setCannotVerify(bool)",
                                     "setUnitPlugged(bool)",
                                     "setDocumentsOpen(bool)",
                                     "setUnit(int,QString,QString,QString,QString)",
                                     "finish(bool)",
                                     "report(int)",
                                     "count(QString)",
                                     "reads(QString)",
                                     "lastCallTime(QString)",
                                     "clearRecord()"};
    const QStringList real = interfaceOf(UpdateDriver::staticMetaObject);
    QCOMPARE(real.size(), 37); // 13 properties, 8 signals, 15 slots, 1 enumeration
    QCOMPARE(interfaceOf(ScriptedUpdateDriver::staticMetaObject, standInsOwn), real);
}

void UpdateDriverTest::updateAvailability_data()
{
    // The one rule of VersionOrder, which talvo-flash follows too (tst_flash's downgrade rows).
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<bool>("available");
    QTest::addColumn<bool>("downgrade"); // the password is asked for
    const auto row = [](const char *name, const char *model, const char *installed, bool available,
                        bool downgrade) {
        QTest::newRow(name) << QString(model) << QString(installed) << available << downgrade;
    };
    row("older minor", "Talvo 400 S", "49.07", true, false);
    row("same version", "Talvo 400 S", "49.09", false, false);
    row("newer minor", "Talvo 400 S", "49.10", false, true);
    row("newer major, older minor", "Talvo 400 S", "50.01", false, true);
    row("older major, newer minor", "Talvo 400 S", "48.99", true, false);
    row("older major against L", "Talvo 400 L", "49.09", true, false);
    row("same as L", "Talvo 400 L", "52.05", false, false);
    row("minor compared as a number: the same", "Talvo 400 S", "49.9", false, false);
    row("one part", "Talvo 400 S", "49", false, true);
    row("three parts", "Talvo 400 S", "49.01.1", false, true);
    row("empty", "Talvo 400 S", "", false, true);
    row("major not a number", "Talvo 400 S", "x.05", false, true);
    row("empty minor", "Talvo 400 S", "49.", false, true);
    row("too long for a number", "Talvo 400 S", "49.99999999999999999999", false, true);
    row("no catalogue entry", "Flash 9000", "01.00", false, true);
}

void UpdateDriverTest::updateAvailability()
{
    QFETCH(QString, model);
    QFETCH(QString, installed);
    UpdateDriver driver;
    driver.versionHandle(model, installed);
    QTEST(driver.isUpdateAvailable(), "available");
    QTEST(driver.isDowngrade(), "downgrade");
}

void UpdateDriverTest::searchRequestsTheUnitAndEndsWithTheWorkersResult()
{
    LogCapture log;
    UpdateDriver driver;
    QSignalSpy requests(&driver, &UpdateDriver::searchDevice);
    QSignalSpy activeChanges(&driver, &UpdateDriver::activeChanged);
    bool handledOnOwnThread = false;
    connect(&driver, &UpdateDriver::activeChanged, this,
            [&] { handledOnOwnThread = QThread::currentThread() == driver.thread(); });

    driver.search(true);
    QVERIFY(driver.active());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0], (QVariantList{1240, 223}));
    // The rising edge has no signal; only the result's falling edge does.
    QCOMPARE(activeChanges.size(), 0);

    QVERIFY(activeChanges.wait(15000));
    QVERIFY(handledOnOwnThread);
    QVERIFY(!driver.active());
    QVERIFY(!driver.result()); // no unit on this machine
    QVERIFY(log.contains("Status       : NOK"));
    QCOMPARE(activeChanges.size(), 1);
}

void UpdateDriverTest::stopRequestGoesToTheWorker()
{
    UpdateDriver driver;
    QSignalSpy stops(&driver, &UpdateDriver::stopSearching);
    QSignalSpy activeChanges(&driver, &UpdateDriver::activeChanged);
    driver.search(true);
    driver.search(false);
    QVERIFY(!driver.active());
    QCOMPARE(stops.size(), 1);
    // The running search still ends with its result.
    QVERIFY(activeChanges.wait(15000));
}

void UpdateDriverTest::installSendsTheFamilysImage_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("image");
    QTest::addColumn<uint>("size");
    QTest::newRow("S") << "Talvo 800S"
                       << ":/fmw/s/image.txt" << 124670u;
    QTest::newRow("L") << "Talvo 800 L"
                       << ":/fmw/l/image.txt" << 126452u;
}

void UpdateDriverTest::installSendsTheFamilysImage()
{
    QFETCH(QString, model);
    UpdateDriver driver;
    driver.versionHandle(model, "01.00");
    driver.progressHandle(57);
    QSignalSpy requests(&driver, &UpdateDriver::installFirmware);
    QSignalSpy activeChanges(&driver, &UpdateDriver::activeChanged);
    QSignalSpy progressChanges(&driver, &UpdateDriver::progressChanged);

    driver.install();
    QCOMPARE(requests.size(), 1);
    QTEST(requests[0][0].toString(), "image");
    QTEST(requests[0][1].toUInt(), "size");
    QVERIFY(driver.active());
    QCOMPARE(driver.progress(), 0);
    QCOMPARE(progressChanges.size(), 0);
    // No unit is open here, so the installation ends failed.
    QVERIFY(activeChanges.wait(15000));
    QVERIFY(!driver.result());
}

void UpdateDriverTest::installWithoutCatalogueEntryOnlyLogs()
{
    LogCapture log;
    UpdateDriver driver;
    QSignalSpy requests(&driver, &UpdateDriver::installFirmware);
    driver.install();
    QVERIFY(log.contains("Firmware is missing for model \"\""));
    driver.versionHandle("Talvo 1200", "49.01");
    driver.install();
    QVERIFY(log.contains("Firmware is missing for model \"Talvo 1200\""));
    QCOMPARE(requests.size(), 0);
    QVERIFY(!driver.active());
}

void UpdateDriverTest::progressAndResultAreRelayed()
{
    LogCapture log;
    UpdateDriver driver;
    QSignalSpy progressChanges(&driver, &UpdateDriver::progressChanged);
    QSignalSpy activeChanges(&driver, &UpdateDriver::activeChanged);
    driver.progressHandle(42);
    QCOMPARE(driver.progress(), 42);
    QCOMPARE(progressChanges.size(), 1);

    driver.resultHandle(true);
    QVERIFY(driver.result());
    QVERIFY(!driver.active());
    QCOMPARE(activeChanges.size(), 1);
    QVERIFY(log.contains("Status       : OK"));
    // The result stays until the next one.
    driver.search(false);
    QVERIFY(driver.result());
}

void UpdateDriverTest::modelPropertiesFollowTheReportedUnit()
{
    LogCapture log;
    UpdateDriver driver;
    QCOMPARE(driver.property("modelPicture").toString(), QString());
    QVERIFY(log.contains("Firmware is missing for model \"\""));

    driver.versionHandle("Talvo 400 L", "52.02");
    QCOMPARE(driver.property("modelType").toInt(), 2);
    QCOMPARE(driver.property("modelName").toString(), QString("Talvo 400 L"));
    QCOMPARE(driver.property("modelPicture").toString(), QString("/fmw/l/logo.jpg"));
    QCOMPARE(driver.property("versionCurrent").toString(), QString("52.02"));
    QCOMPARE(driver.property("versionNew").toString(), QString("52.05"));

    driver.versionHandle("Talvo", "49.01");
    QCOMPARE(driver.property("modelType").toInt(), 1);
    QCOMPARE(driver.property("modelPicture").toString(), QString("/fmw/s/logo.jpg"));
    QCOMPARE(driver.property("versionNew").toString(), QString("49.09"));
}

void UpdateDriverTest::openFileCopiesAndHandsTheCopyToTheDesktop()
{
    const QByteArray content("line one\r\nline two\nno line end \xff\x00 tail", 37);
    {
        QFile source("source.bin");
        QVERIFY(source.open(QIODevice::WriteOnly));
        source.write(content);
    }
    {
        QFile old("copy.bin");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(1000, 'x')); // an older, longer copy is overwritten
    }
    _opened.urls.clear();
    UpdateDriver driver;
    QVERIFY(driver.openFileNatively("source.bin", "copy.bin"));
    QFile copy("copy.bin");
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), content);
    QCOMPARE(_opened.urls, QList<QUrl>{QUrl::fromLocalFile(QDir::current().absoluteFilePath("copy.bin"))});

    // Without an opener (talvo-flash) the copy is made and nothing is opened.
    _opened.urls.clear();
    QVERIFY(QFile::remove("copy.bin"));
    UpdateDriver::setDocumentOpener(nullptr);
    QVERIFY(!driver.openFileNatively("source.bin", "copy.bin"));
    // An opener that starts no application: the copy is there, the user hears it was not opened.
    UpdateDriver::setDocumentOpener([](const QString &) { return false; });
    QVERIFY(!driver.openFileNatively("source.bin", "copy.bin"));
    UpdateDriver::setDocumentOpener(&openWithDesktop);
    QVERIFY(QFile::exists("copy.bin"));
    QVERIFY(_opened.urls.isEmpty());
}

void UpdateDriverTest::openFileReportsFailuresAndOpensNothing()
{
    LogCapture log;
    _opened.urls.clear();
    UpdateDriver driver;
    QVERIFY(!driver.openFileNatively(":/no/such/resource.txt", "out.txt"));
    QVERIFY(log.contains("file_R.open() failed!"));
    QVERIFY(!QFile::exists("out.txt"));

    QVERIFY(QDir().mkpath("a_folder"));
    QVERIFY(!driver.openFileNatively(":/imp/QtQuick.2/qmldir", "a_folder"));
    QVERIFY(log.contains("file_W.open() failed!"));
    QVERIFY(_opened.urls.isEmpty());
}

void UpdateDriverTest::changelogOfAnUnknownUnitIsNotOpened()
{
    LogCapture log;
    _opened.urls.clear();
    UpdateDriver driver;
    driver.versionHandle("Talvo 1200", "49.01");
    QVERIFY(!driver.openChangelogNatively());
    QVERIFY(log.contains("Changelog is missing for model \"Talvo 1200\""));
    QVERIFY(!QFile::exists(UpdateDriver::_changelogLocal));
    QVERIFY(_opened.urls.isEmpty());
}

void UpdateDriverTest::journalNamesOnlyKnownFamilies_data()
{
    QTest::addColumn<QString>("written"); // the family as the file holds it
    QTest::addColumn<int>("family");
    QTest::newRow("S") << "1" << 1;
    QTest::newRow("L") << "2" << 2;
    QTest::newRow("a family not carried") << "7" << 0;
    QTest::newRow("negative") << "-1" << 0;
}

// journal.ini is the user's file: a restore must never write a family read from it on a guess.
void UpdateDriverTest::journalNamesOnlyKnownFamilies()
{
    QFETCH(QString, written);
    QFETCH(int, family);
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(InstallJournal::write({"TV400009", "Talvo 400 S", 1, "49.05", "49.09"}));
    {
        QSettings settings(InstallJournal::path(), QSettings::IniFormat);
        settings.setValue("TV400009/family", written);
    }
    const InstallJournal::Entry entry = InstallJournal::read("TV400009");
    InstallJournal::clear("TV400009");
    QStandardPaths::setTestModeEnabled(false);
    QCOMPARE(entry.family, family);
    QCOMPARE(entry.model, QString("Talvo 400 S"));
}

void UpdateDriverTest::journalIsReadAndReplacedOnlyAsAPlainFile_data()
{
    const QByteArray other = "[TV400001]\nfamily=2\nmodel=Talvo 800 L\nversionFrom=52.02\nversionTo=52.05\n";
    QTest::addColumn<QString>("journal"); // what journal.ini is
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("used"); // whether the unit's entry replaces it
    QTest::newRow("a link to another file") << "link" << QByteArray("[TV400009]\nfamily=1\n") << false;
    QTest::newRow("a FIFO") << "fifo" << QByteArray() << false;
    // Two ports show the unit's serial number: it names no one unit, whatever the file holds.
    QTest::newRow("a serial number two ports show")
        << "shared" << QByteArray("[TV400009]\nfamily=1\n") << false;
    QTest::newRow("a directory") << "directory" << QByteArray() << false;
    QTest::newRow("larger than a journal")
        << "file"
        << "[TV400009]\nfamily=1\n" + QByteArray(InstallJournal::MAX_JOURNAL_BYTES, ';') << false;
    QTest::newRow("the unit noted with two families")
        << "file" << QByteArray("[TV400009]\nfamily=1\n\n[TV%34%30%30009]\nfamily=2\n") << true;
    QTest::newRow("another unit's section, as QSettings wrote it") << "file" << other << true;
    // Its lock file gets the same rules: nothing that could block, its size never read.
    QTest::newRow("lock: a FIFO") << "lock fifo" << other << false;
    QTest::newRow("lock: a link to /dev/zero") << "lock zero" << other << false;
    QTest::newRow("lock: a link to the journal") << "lock link" << other << false;
    QTest::newRow("lock: a directory") << "lock directory" << other << false;
    QTest::newRow("lock: held by another run") << "lock held" << other << false;
    QTest::newRow("lock: 2 GiB, its size ignored") << "lock large" << other << true;
}

// journal.ini is the user's file, and the program may run as root: it never writes through a link,
// never waits on a FIFO, never trusts a unit noted twice, and a new entry replaces the file whole.
void UpdateDriverTest::journalIsReadAndReplacedOnlyAsAPlainFile()
{
    QFETCH(QString, journal);
    QFETCH(QByteArray, content);
    QFETCH(bool, used);
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", savedDataHome); });
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    const QString file = InstallJournal::path(), folder = QFileInfo(file).path(),
                  target = home.filePath("target");
    QVERIFY(QDir().mkpath(journal == "directory" ? file + "/inside" : folder));
    QFile existing(journal == "link" ? target : file);
    QVERIFY(journal == "fifo" ? mkfifo(qPrintable(file), 0600) == 0
            : journal == "directory"
                ? true
                : existing.open(QIODevice::WriteOnly) && existing.write(content) == content.size());
    existing.close();
    QVERIFY(journal != "link" || QFile::link(target, file));
    const QString lock = file + ".lock", lockKind = journal.section(' ', 1);
    int holder = -1;
    const auto closeHolder = qScopeGuard([&holder] { ::close(holder); });
    QVERIFY(!journal.startsWith("lock") ||
            (lockKind == "fifo"        ? mkfifo(qPrintable(lock), 0600) == 0
             : lockKind == "zero"      ? QFile::link("/dev/zero", lock)
             : lockKind == "link"      ? QFile::link(file, lock)
             : lockKind == "directory" ? QDir().mkdir(lock)
                                       : (holder = ::open(qPrintable(lock), O_RDWR | O_CREAT, 0600)) >= 0 &&
                                             (lockKind == "large" ? ftruncate(holder, 2LL << 30) == 0
                                                                  : flock(holder, LOCK_EX) == 0)));
    const auto bytes = [](const QString &path) {
        struct stat info;
        QFile regular(path); // a FIFO is not opened
        return stat(qPrintable(path), &info) == 0 && S_ISREG(info.st_mode) &&
                       regular.open(QIODevice::ReadOnly)
                   ? regular.readAll()
                   : QByteArray();
    };
    const auto state = [&] {
        return QStringList{
                   QFileInfo(file).symLinkTarget(), QString::number(QFileInfo(file).isDir()),
                   QCryptographicHash::hash(bytes(journal == "link" ? target : file), QCryptographicHash::Md5)
                       .toHex()} +
               QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    };
    const QStringList before = state();
    const auto ports = qScopeGuard([] { PortEnumerator::clearExtraPorts(); });
    for (const char *device : {"/dev/ttyACM7", "/dev/ttyACM8"}) {
        PortInfo port = PortEnumerator::portForDevice(device, UpdateDriver::_vendor, UpdateDriver::_product);
        port.serialNumber = journal == "shared" ? "TV400009" : device;
        PortEnumerator::addExtraPort(port);
    }
    const InstallJournal::Entry entry{"TV400009", " Talvo, 400 \"S\" \xc3\xa9 1", 1, "49.05", "49.09"};
    QString readProblem, writeProblem;
    auto calls = std::async(std::launch::async, [&] {
        const int family = InstallJournal::read(entry.serialNumber, &readProblem).family;
        return QList<int>{family, InstallJournal::write(entry, &writeProblem),
                          InstallJournal::read(entry.serialNumber).family,
                          InstallJournal::read("TV400001").family};
    });
    if (calls.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        for (int i = 0; i < 100 && calls.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
             ++i)
            ::close(::open(qPrintable(file), (i % 2 ? O_RDONLY : O_WRONLY) | O_NONBLOCK)); // release it
        QFAIL("the journal was waited on");
    }
    const QList<int> families = calls.get();
    QCOMPARE(families.at(0), 0);                     // not noted, whatever the file says
    const bool other = content.contains("TV400001"); // the unit is not noted yet
    QCOMPARE(readProblem.isEmpty(), other);
    QCOMPARE(families.at(1), int(used));
    QCOMPARE(writeProblem.isEmpty(), used);
    QCOMPARE(families.at(2), used ? 1 : 0);
    if (!used) {
        QVERIFY(!InstallJournal::clear(entry.serialNumber));
        QCOMPARE(state(), before);
        return;
    }
    QCOMPARE(families.at(3), other ? 2 : 0);
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("TV400009/model").toString(), entry.model);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"journal.ini"});
    QVERIFY(InstallJournal::clear(entry.serialNumber));
    QCOMPARE(InstallJournal::read(entry.serialNumber).model, QString());
    QCOMPARE(bytes(file), other ? content : QByteArray());
}

void UpdateDriverTest::driverChecks()
{
    UpdateDriver driver;
    // The CDC-ACM class driver comes with the kernel.
    QVERIFY(driver.isDriverAvailable());
    QCOMPARE(driver.isDriverLoaded(), QFileInfo("/sys/bus/usb/drivers/cdc_acm").isDir());

    QTemporaryDir sysfs;
    QVERIFY(!DriverPlatform::usbDriverRegistered(sysfs.path().toStdString(), "cdc_acm"));
    QVERIFY(QDir(sysfs.path()).mkpath("bus/usb/drivers/cdc_acm"));
    QVERIFY(DriverPlatform::usbDriverRegistered(sysfs.path().toStdString(), "cdc_acm"));
    QVERIFY(!DriverPlatform::usbDriverRegistered(sysfs.path().toStdString(), "ftdi_sio"));
}

void UpdateDriverTest::aListedPortWithTheUnitsIdentifiersCountsAsADriver_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<bool>("identified"); // the system vouches for the identifiers
    QTest::addColumn<bool>("counts");
    QTest::newRow("the unit's port") << 1240 << 223 << true << true;
    QTest::newRow("the vendor's other product") << 1240 << 10 << true << false;
    QTest::newRow("another vendor's product of that number") << 0x2341 << 223 << true << false;
    QTest::newRow("identifiers the system does not vouch for") << 1240 << 223 << false << false;
}

void UpdateDriverTest::aListedPortWithTheUnitsIdentifiersCountsAsADriver()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(bool, identified);
    QFETCH(bool, counts);
    PortEnumerator::setSystemPortsIncluded(false);
    const bool withoutPorts =
        PortEnumerator::hasPortWithIdentifiers(UpdateDriver::_vendor, UpdateDriver::_product);
    PortEnumerator::addExtraPort(PortEnumerator::portForDevice("/dev/ttyUSB0", 0x0403, 0x6001));
    PortInfo port = PortEnumerator::portForDevice("/dev/ttyACM1", quint16(vendor), quint16(product));
    port.hasVendorIdentifier = port.hasProductIdentifier = identified;
    PortEnumerator::addExtraPort(port);
    const bool found = PortEnumerator::hasPortWithIdentifiers(UpdateDriver::_vendor, UpdateDriver::_product);
    PortEnumerator::clearExtraPorts();
    PortEnumerator::setSystemPortsIncluded(true);
    QVERIFY(!withoutPorts);
    QCOMPARE(found, counts);
}

QTEST_MAIN(UpdateDriverTest)
#include "tst_updatedriver.moc"
