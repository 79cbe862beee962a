#include "installjournal.h"
#include "logcapture.h"
#include "portenumerator.h"
#include "processsupport.h"
#include "testimage.h"
#include "unitsupport.h"
#include "updatedriver.h"
#include "updateworker.h"

#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <type_traits>

namespace {

const int SEARCH_TIMEOUT_MS = 10000;
const int INSTALL_TIMEOUT_MS = 60000;

// Descriptors the program under test holds on the device (the simulated unit keeps its own).
class PortWatch
{
public:
    explicit PortWatch(const QString &path) : _path(path), _unitOwn(descriptorsOf(path)) {}
    int hostDescriptors() const { return (descriptorsOf(_path) - _unitOwn).size(); }

private:
    QString _path;
    QSet<int> _unitOwn;
};

// Everything the worker reports, in the order it arrives on the test's thread.
class Recorder : public QObject
{
    Q_OBJECT

public:
    QStringList events;
    QList<unsigned int> progress;
    QList<int> reasons;     // UpdateWorker::PortReason of every probed port
    QStringList identities; // "model:version" of every probed port, empty parts when not found
    QList<InstallOutcome> outcomes;

    int results() const { return events.filter(QRegularExpression("^result:")).size(); }

public slots:
    void onVersion(const QString &model, const QString &version)
    {
        events << "version:" + model + ":" + version;
    }
    void onProgress(const unsigned int &percent)
    {
        progress << percent;
        if (events.isEmpty() || events.last() != "progress")
            events << "progress";
    }
    void onResult(const bool &status) { events << QString("result:") + (status ? "true" : "false"); }
    // An installation's or restore's end, in the same list as a search's.
    void onFinished(const InstallOutcome &outcome)
    {
        outcomes << outcome;
        onResult(outcome.succeeded());
    }
    void onProbed(const ProbeResult &probe)
    {
        reasons << probe.reason;
        identities << probe.model + ":" + probe.version;
    }
};

// A worker on a thread of its own, as the controller runs it.
class WorkerRig
{
public:
    WorkerRig()
    {
        _worker = new UpdateWorker();
        _worker->moveToThread(&_thread);
        QObject::connect(&_thread, &QThread::finished, _worker, &QObject::deleteLater);
        QObject::connect(_worker, &UpdateWorker::versionChanged, &recorder, &Recorder::onVersion);
        QObject::connect(_worker, &UpdateWorker::progressChanged, &recorder, &Recorder::onProgress);
        QObject::connect(_worker, &UpdateWorker::result, &recorder, &Recorder::onResult);
        QObject::connect(_worker, &UpdateWorker::installFinished, &recorder, &Recorder::onFinished);
        QObject::connect(_worker, &UpdateWorker::portProbed, &recorder, &Recorder::onProbed);
        _thread.start();
    }
    ~WorkerRig()
    {
        _thread.quit();
        _thread.wait();
    }

    void search(int vendor = UNIT_VENDOR_ID, int product = UNIT_PRODUCT_ID)
    {
        QMetaObject::invokeMethod(_worker, "doSearchDevice", Qt::QueuedConnection, Q_ARG(int, vendor),
                                  Q_ARG(int, product));
    }
    void stop() { QMetaObject::invokeMethod(_worker, "doStopSearching", Qt::QueuedConnection); }
    void restore(const QString &image, unsigned int size)
    {
        QMetaObject::invokeMethod(_worker, "doRestoreFirmware", Qt::QueuedConnection,
                                  Q_ARG(int, UNIT_VENDOR_ID), Q_ARG(int, UNIT_PRODUCT_ID),
                                  Q_ARG(QString, QString()), Q_ARG(QString, image),
                                  Q_ARG(unsigned int, size));
    }
    void setVerify(bool verify)
    {
        QMetaObject::invokeMethod(_worker, "setVerifyAfterWrite", Qt::QueuedConnection, Q_ARG(bool, verify));
    }
    void list()
    {
        QMetaObject::invokeMethod(_worker, "doListDevices", Qt::QueuedConnection, Q_ARG(int, UNIT_VENDOR_ID),
                                  Q_ARG(int, UNIT_PRODUCT_ID));
    }
    // Runs fn on the worker's thread, as a step of its own between the requests. Captureless steps
    // only: what a closure holds would reach the other thread through Qt's queue, whose locks
    // ThreadSanitizer cannot see.
    template <typename Step> void onWorkerThread(Step fn)
    {
        static_assert(std::is_empty<Step>::value, "a step on the worker's thread captures nothing");
        QMetaObject::invokeMethod(_worker, fn, Qt::BlockingQueuedConnection);
    }
    void install(const QString &image, unsigned int size)
    {
        QMetaObject::invokeMethod(_worker, "doInstallFirmware", Qt::QueuedConnection, Q_ARG(QString, image),
                                  Q_ARG(unsigned int, size));
    }

    // Waits for the given number of results, then for everything the worker still had queued, so
    // that a surplus signal would show in the recorder.
    bool waitForResults(int count, int timeoutMs)
    {
        if (!QTest::qWaitFor([&] { return recorder.results() >= count; }, timeoutMs))
            return false;
        QMetaObject::invokeMethod(
            _worker, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
        return true;
    }

    Recorder recorder;

private:
    QThread _thread;
    UpdateWorker *_worker = nullptr;
};

// One row per situation, named by it, in the column "situation".
void addSituations(std::initializer_list<const char *> situations)
{
    QTest::addColumn<QString>("situation");
    for (const char *situation : situations)
        QTest::newRow(situation) << QString::fromLatin1(situation);
}

} // namespace

// The worker and the controller, each with its worker thread, against simulated units on ptys.
class tst_UpdateWorker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void portListIsTheSystemsPortsThenTheExtraOnes();
    void probeLogsEveryPort();
    void searchIdentifiesTheUnit_data();
    void searchIdentifiesTheUnit();
    void searchWithoutUsableUnitFails_data();
    void searchWithoutUsableUnitFails();
    void searchSkipsAPortHeldByAnotherProgram();
    void listProbesEveryPortAndReleasesIt();
    void searchGoesOnToTheNextMatchingPort();
    void sameUnitIsFoundAgainOnTheSamePort();
    void stopRequestDoesNotShortenASearch();

    void installationWritesTheImage();
    void installationFailuresEndWithFalseAndAClosedPort_data();
    void installationFailuresEndWithFalseAndAClosedPort();
    void installationWithoutSearchFails();
    void probeTellsWhatItFound_data();
    void probeTellsWhatItFound();
    void restoreAndVerify_data();
    void restoreAndVerify();
    void installationAfterAFailedSearchFails();

    void controllerReportsTheUnitFound();
    void controllerKeepsEachPortAsProbed();
    void controllerStopsTheSearchWithinOneProbeAttempt_data();
    void controllerStopsTheSearchWithinOneProbeAttempt();
    void controllerInstallsTheCarriedImage_data();
    void controllerInstallsTheCarriedImage();

private:
    QString writeImage(const TestImage::Sections &sections);

    QTemporaryDir _dir;
    int _imageCount = 0;
};

void tst_UpdateWorker::init()
{
    // The machine's own serial ports are left out so that only the simulated units are seen.
    PortEnumerator::setSystemPortsIncluded(false);
    PortEnumerator::clearExtraPorts();
}

void tst_UpdateWorker::cleanup()
{
    PortEnumerator::clearExtraPorts();
    PortEnumerator::setSystemPortsIncluded(true);
}

QString tst_UpdateWorker::writeImage(const TestImage::Sections &sections)
{
    const QString path = _dir.filePath(QString("image%1.txt").arg(++_imageCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(TestImage::write(sections)) < 0)
        return QString();
    return path;
}

void tst_UpdateWorker::portListIsTheSystemsPortsThenTheExtraOnes()
{
    const auto names = [](const QList<PortInfo> &ports) {
        QStringList list;
        for (const PortInfo &port : ports)
            list << port.systemLocation;
        return list;
    };
    QStringList system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system << info.systemLocation();

    QCOMPARE(names(PortEnumerator::availablePorts()), QStringList());
    PortEnumerator::addExtraPort(
        PortEnumerator::portForDevice("/dev/pts/7", UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    PortEnumerator::addExtraPort(
        PortEnumerator::portForDevice("/dev/pts/3", UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    QCOMPARE(names(PortEnumerator::availablePorts()), QStringList({"/dev/pts/7", "/dev/pts/3"}));
    PortEnumerator::setSystemPortsIncluded(true);
    QCOMPARE(names(PortEnumerator::availablePorts()), system + QStringList({"/dev/pts/7", "/dev/pts/3"}));
    PortEnumerator::clearExtraPorts();
    QCOMPARE(names(PortEnumerator::availablePorts()), system);

    const PortInfo port = PortEnumerator::portForDevice("/dev/pts/7", UNIT_VENDOR_ID, UNIT_PRODUCT_ID);
    QCOMPARE(port.portName, QString("pts/7"));
    QVERIFY(port.hasVendorIdentifier && port.hasProductIdentifier);
    QCOMPARE(port.vendorIdentifier, quint16(1240));
    QCOMPARE(port.productIdentifier, quint16(223));
}

void tst_UpdateWorker::probeLogsEveryPort()
{
    PortInfo other = PortEnumerator::portForDevice("/dev/ttyACM3", UNIT_VENDOR_ID, 224);
    other.description = "CDC RS-232 Emulation Demo";
    other.manufacturer = "Microchip Technology, Inc.";
    PortInfo plain;
    plain.portName = "ttyS0";
    plain.systemLocation = "/dev/ttyS0";
    PortEnumerator::addExtraPort(other);
    PortEnumerator::addExtraPort(plain);
    auto silent = startUnit();
    silent->setSilent(true);
    addUnitPort(*silent);

    const LogCapture log;
    WorkerRig rig;
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"result:false"}));

    const QString separator(48, '-');
    const QStringList expected = {separator,
                                  "Name         : \"ttyACM3\"",
                                  "Description  : \"CDC RS-232 Emulation Demo\"",
                                  "Manufacturer : \"Microchip Technology, Inc.\"",
                                  "Vendor ID    : 1240",
                                  "Product ID   : 224",
                                  separator,
                                  "Name         : \"ttyS0\"",
                                  "Description  : \"\"",
                                  "Manufacturer : \"\"",
                                  separator,
                                  "Name         : \"" + silent->portPath().mid(5) + '"',
                                  "Description  : \"simulated unit\"",
                                  "Manufacturer : \"\"",
                                  "Vendor ID    : 1240",
                                  "Product ID   : 223"};
    const QStringList lines = log.lines();
    QCOMPARE(lines.mid(0, expected.size()), expected);
    // A one-off line fault must not lose the unit: the request goes out three times.
    QCOMPARE(lines.count("UpdateWorker::getFirmwareVersion setProgrammingMode failed!"), 3);
}

void tst_UpdateWorker::searchIdentifiesTheUnit_data()
{
    QTest::addColumn<QByteArray>("versionText");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("version");

    QTest::newRow("7 tokens") << QByteArray("49.01(1623)") << "Talvo"
                              << "49.01";
    QTest::newRow("11 tokens") << QByteArray("49.05(1799),Talvo 400S") << "Talvo 400 S"
                               << "49.05";
    QTest::newRow("13 tokens") << QByteArray("52.02(2316),Talvo 400 L") << "Talvo 400 L"
                               << "52.02";
    QTest::newRow("type table, minor 40") << QByteArray("49.40(1700), Talvo 800L") << "Talvo 800 L"
                                          << "49.04";
}

void tst_UpdateWorker::searchIdentifiesTheUnit()
{
    QFETCH(QByteArray, versionText);
    QFETCH(QString, model);
    QFETCH(QString, version);

    auto unit = startUnit(versionText);
    QVERIFY(unit->isRunning());
    const PortWatch port(unit->portPath());
    // A port with other identifiers ahead of the unit is passed over.
    PortEnumerator::addExtraPort(PortEnumerator::portForDevice("/dev/null", UNIT_VENDOR_ID, 224));
    addUnitPort(*unit);

    WorkerRig rig;
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"version:" + model + ":" + version, "result:true"}));
    QCOMPARE(unit->handshakesAnswered(), 1);
    // The port stays open for the installation.
    QCOMPARE(port.hostDescriptors(), 1);
}

void tst_UpdateWorker::searchWithoutUsableUnitFails_data()
{
    addSituations({"no ports", "other product", "no identifiers", "device missing", "silent unit",
                   "wrong token count", "empty version text", "wrong header"});
}

void tst_UpdateWorker::searchWithoutUsableUnitFails()
{
    QFETCH(QString, situation);

    auto unit =
        startUnit(situation == "wrong token count" ? "52.02(2316),Talvo 400L" : "49.05(1799),Talvo 400S");
    const PortWatch port(unit->portPath());
    if (situation == "other product") {
        addUnitPort(*unit, UNIT_VENDOR_ID, 224);
    } else if (situation == "no identifiers") {
        PortInfo port = PortEnumerator::portForDevice(unit->portPath(), 0, 0);
        port.hasVendorIdentifier = false;
        port.hasProductIdentifier = false;
        PortEnumerator::addExtraPort(port);
    } else if (situation == "device missing") {
        PortEnumerator::addExtraPort(
            PortEnumerator::portForDevice(_dir.filePath("ttyACM9"), UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    } else if (situation != "no ports") {
        addUnitPort(*unit);
    }
    if (situation == "silent unit")
        unit->setSilent(true);
    if (situation == "empty version text" || situation == "wrong header") {
        SimulatedUnit::Handshake handshake;
        handshake.rawReply = situation == "empty version text" ? QByteArray::fromHex("7d7d017e")
                                                               : QByteArray::fromHex("7d7c0134392e30317e");
        unit->setHandshake(handshake);
    }

    WorkerRig rig;
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"result:false"}));
    QCOMPARE(port.hostDescriptors(), 0);
}

void tst_UpdateWorker::searchSkipsAPortHeldByAnotherProgram()
{
    auto held = startUnit("49.05(1799),Talvo 400S");
    auto free = startUnit("52.02(2316),Talvo 400 L");
    addUnitPort(*held);
    addUnitPort(*free);

    const int holder = ::open(qPrintable(held->portPath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);

    WorkerRig rig;
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"version:Talvo 400 L:52.02", "result:true"}));
    QCOMPARE(held->handshakesAnswered(), 0);

    // With the other unit gone, the held port alone gives no unit.
    PortEnumerator::clearExtraPorts();
    addUnitPort(*held);
    rig.search();
    QVERIFY(rig.waitForResults(2, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events.last(), QString("result:false"));
    QCOMPARE(rig.recorder.events.size(), 3);
    ::close(holder);
}

void tst_UpdateWorker::listProbesEveryPortAndReleasesIt()
{
    auto first = startUnit("49.05(1799),Talvo 400S");
    auto silent = startUnit();
    silent->setSilent(true);
    auto second = startUnit("52.02(2316),Talvo 400 L");
    const PortWatch firstPort(first->portPath()), secondPort(second->portPath());
    for (const SimulatedUnit *unit : {first.get(), silent.get(), second.get()})
        addUnitPort(*unit);

    WorkerRig rig;
    rig.list();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events.last(), QString("result:true"));
    QCOMPARE(rig.recorder.reasons,
             QList<int>({UpdateWorker::PortFound, UpdateWorker::PortSilent, UpdateWorker::PortFound}));
    QCOMPARE(rig.recorder.identities, QStringList({"Talvo 400 S:49.05", ":", "Talvo 400 L:52.02"}));
    QCOMPARE(firstPort.hostDescriptors() + secondPort.hostDescriptors(), 0);
    QCOMPARE(second->framesReceived(), 0);
}

void tst_UpdateWorker::searchGoesOnToTheNextMatchingPort()
{
    auto silent = startUnit();
    silent->setSilent(true);
    auto wrongCount = startUnit("49.01(1623),Talvo 400S");
    auto good = startUnit("52.02(2316),Talvo 800 S");
    auto notReached = startUnit("49.05(1799),Talvo 400S");
    const PortWatch silentPort(silent->portPath());
    const PortWatch wrongCountPort(wrongCount->portPath());
    addUnitPort(*silent);
    addUnitPort(*wrongCount);
    addUnitPort(*good);
    addUnitPort(*notReached);

    WorkerRig rig;
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"version:Talvo 800 S:52.02", "result:true"}));
    QCOMPARE(wrongCount->handshakesAnswered(), 3);
    QCOMPARE(notReached->handshakesAnswered(), 0);
    // Both failed probes gave their ports up.
    QCOMPARE(silentPort.hostDescriptors(), 0);
    QCOMPARE(wrongCountPort.hostDescriptors(), 0);
}

void tst_UpdateWorker::sameUnitIsFoundAgainOnTheSamePort()
{
    auto unit = startUnit();
    const PortWatch port(unit->portPath());
    addUnitPort(*unit);

    WorkerRig rig;
    rig.search();
    rig.search();
    QVERIFY(rig.waitForResults(2, SEARCH_TIMEOUT_MS));
    const QStringList found = {"version:Talvo 400 S:49.05", "result:true"};
    QCOMPARE(rig.recorder.events, found + found);
    // The first probe's port was closed before the second opened it.
    QCOMPARE(port.hostDescriptors(), 1);
}

void tst_UpdateWorker::stopRequestDoesNotShortenASearch()
{
    auto silent = startUnit();
    silent->setSilent(true);
    auto unit = startUnit();
    addUnitPort(*silent);
    addUnitPort(*unit);

    WorkerRig rig;
    rig.stop();
    rig.search();
    rig.stop();
    rig.search();
    QVERIFY(rig.waitForResults(2, SEARCH_TIMEOUT_MS));
    const QStringList found = {"version:Talvo 400 S:49.05", "result:true"};
    QCOMPARE(rig.recorder.events, found + found);
}

void tst_UpdateWorker::installationWritesTheImage()
{
    auto unit = startUnit();
    const PortWatch port(unit->portPath());
    addUnitPort(*unit);
    const TestImage::Sections image = TestImage::small(5000);
    const QString path = writeImage(image);
    QVERIFY(!path.isEmpty());

    WorkerRig rig;
    rig.search();
    rig.install(path, TestImage::dataSize(image));
    QVERIFY(rig.waitForResults(2, INSTALL_TIMEOUT_MS));

    QCOMPARE(rig.recorder.events,
             QStringList({"version:Talvo 400 S:49.05", "result:true", "progress", "result:true"}));
    const QList<unsigned int> &progress = rig.recorder.progress;
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last(), 100u);
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY2(progress.at(i) > progress.at(i - 1), "progress goes up in whole percent");
    QCOMPARE(unit->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(image, int(SimulatedUnit::MEMORY_SIZE)));
    QCOMPARE(port.hostDescriptors(), 0);
}

void tst_UpdateWorker::installationFailuresEndWithFalseAndAClosedPort_data()
{
    addSituations({"password refused", "erase refused", "block refused", "line hung up", "image missing"});
}

void tst_UpdateWorker::installationFailuresEndWithFalseAndAClosedPort()
{
    QFETCH(QString, situation);

    auto unit = startUnit();
    const PortWatch port(unit->portPath());
    addUnitPort(*unit);
    const TestImage::Sections image = TestImage::small(5000);
    QString path = writeImage(image);
    if (situation == "image missing")
        path = _dir.filePath("missing.txt");

    SimulatedUnit::FrameFault fault;
    fault.count = -1;
    if (situation == "password refused") {
        unit->setPasswordPolicy(SimulatedUnit::PasswordPolicy::RefuseAlways);
    } else if (situation == "erase refused") {
        fault.command = SimulatedUnit::CMD_MASS_ERASE;
        unit->addFrameFault(fault);
    } else if (situation == "block refused") {
        fault.command = SimulatedUnit::CMD_RX_DATA_BLOCK;
        fault.first = 10;
        unit->addFrameFault(fault);
    } else if (situation == "line hung up") {
        fault.kind = SimulatedUnit::FrameFault::HangUp;
        fault.command = SimulatedUnit::CMD_RX_DATA_BLOCK;
        fault.first = 3;
        fault.count = 1;
        unit->addFrameFault(fault);
    }

    WorkerRig rig;
    rig.search();
    rig.install(path, TestImage::dataSize(image));
    QVERIFY(rig.waitForResults(2, INSTALL_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events.first(), QString("version:Talvo 400 S:49.05"));
    QCOMPARE(rig.recorder.events.last(), QString("result:false"));
    QCOMPARE(rig.recorder.results(), 2);
    for (unsigned int percent : rig.recorder.progress)
        QVERIFY(percent < 100);
    if (situation == "block refused")
        QCOMPARE(unit->blocksWritten(), 9);
    QCOMPARE(port.hostDescriptors(), 0);
}

void tst_UpdateWorker::probeTellsWhatItFound_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("reason"); // -1: the port is not probed
    QTest::addColumn<bool>("loaderFrame");
    QTest::newRow("unit found") << "found" << int(UpdateWorker::PortFound) << false;
    QTest::newRow("unit in its loader") << "stranded" << int(UpdateWorker::PortInLoader) << true;
    QTest::newRow("silent port") << "silent" << int(UpdateWorker::PortSilent) << true;
    // A refusal to the first request, then the line gone quiet: not silent.
    QTest::newRow("refused once, then quiet")
        << "refused once" << int(UpdateWorker::PortNotUnderstood) << false;
    QTest::newRow("text not understood") << "wrong count" << int(UpdateWorker::PortNotUnderstood) << false;
    QTest::newRow("garbled reply") << "wrong header" << int(UpdateWorker::PortNotUnderstood) << false;
    QTest::newRow("other identifiers") << "other product" << -1 << false;
    QTest::newRow("held by another program") << "held" << int(UpdateWorker::PortBusy) << false;
    QTest::newRow("no access") << "no access" << int(UpdateWorker::PortNoAccess) << false;
    QTest::newRow("gone before the open") << "missing" << int(UpdateWorker::PortMissing) << false;
}

// A loader frame goes only to a port with the unit's identifiers that gave no reply of an
// application, and a unit left in its loader is told apart from a silent port.
void tst_UpdateWorker::probeTellsWhatItFound()
{
    QFETCH(QString, situation);
    QFETCH(int, reason);
    QFETCH(bool, loaderFrame);

    auto unit = startUnit(situation == "wrong count" ? "52.02(2316),Talvo 400L" : "49.05(1799),Talvo 400S");
    if (situation == "stranded")
        unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS, QByteArray(2, '\xFF'));
    if (situation == "silent")
        unit->setSilent(true);
    if (situation == "refused once") {
        SimulatedUnit::Handshake handshake;
        handshake.rawReply = QByteArray(1, char(0x51)); // the loader's "header incorrect"
        handshake.hangUpAfterBytes = 1;
        unit->setHandshake(handshake);
    }
    if (situation == "wrong header") {
        SimulatedUnit::Handshake handshake;
        handshake.rawReply = QByteArray::fromHex("7d7c0134392e30317e");
        unit->setHandshake(handshake);
    }
    if (situation == "missing")
        PortEnumerator::addExtraPort(
            PortEnumerator::portForDevice("/dev/talvo-test-none", UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    else
        addUnitPort(*unit, UNIT_VENDOR_ID, situation == "other product" ? 224 : UNIT_PRODUCT_ID);
    const PortWatch port(unit->portPath());
    const int holder = ::open(qPrintable(unit->portPath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0 && (situation != "held" || flock(holder, LOCK_EX | LOCK_NB) == 0));
    if (situation == "no access")
        QCOMPARE(::chmod(qPrintable(unit->portPath()), 0), 0);

    WorkerRig rig;
    // Root opens whatever the file's mode: the worker checks permissions as an ordinary user.
    if (situation == "no access")
        rig.onWorkerThread([] { checkFilesAsOrdinaryUser(); });
    rig.search();
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    ::close(holder);
    QCOMPARE(rig.recorder.reasons, reason < 0 ? QList<int>() : QList<int>{reason});
    QCOMPARE(rig.recorder.identities.join(""), QString(reason == UpdateWorker::PortFound ? "Talvo 400 S:49.05"
                                                       : reason < 0                      ? ""
                                                                                         : ":"));
    const QByteArray versionCommand = QByteArray::fromHex("80010019e862");
    QCOMPARE(unit->receivedBytes().contains(versionCommand), loaderFrame);
    QCOMPARE(unit->receivedBytes().contains('\x80'), loaderFrame);
    QCOMPARE(port.hostDescriptors(), situation == "found" ? 1 : 0);
}

void tst_UpdateWorker::restoreAndVerify_data()
{
    QTest::addColumn<QString>("request"); // "restore" or "install with verify"
    QTest::addColumn<bool>("stranded");
    QTest::addColumn<int>("flippedBlock"); // a block stored with one bit flipped, 0: none
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("line");
    QTest::newRow("a unit in its loader is restored")
        << "restore" << true << 0 << true << "Password accepted at once: the unit was already erased";
    QTest::newRow("a restore that does not verify fails")
        << "restore" << true << 2 << false << "Verify failed! section 0x05c00 length 4096";
    QTest::newRow("a unit running its application is not restored")
        << "restore" << false << 0 << false << "UpdateWorker::doRestoreFirmware No unit in its loader found!";
    QTest::newRow("an installation verified")
        << "install with verify" << false << 0 << true << "Verified 2 sections";
    QTest::newRow("a bit lost in the last block")
        << "install with verify" << false << 22 << false << "Verify failed! section 0x0ffe0 length 32";
}

void tst_UpdateWorker::restoreAndVerify()
{
    QFETCH(QString, request);
    QFETCH(bool, stranded);
    QFETCH(int, flippedBlock);
    QFETCH(bool, succeeds);
    QFETCH(QString, line);

    auto unit = startUnit();
    if (stranded)
        unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS - 0x7E, QByteArray(0x80, '\xFF'));
    if (flippedBlock > 0) {
        unit->addFrameFault(
            SimulatedUnit::FrameFault::storedBitFlip(SimulatedUnit::CMD_RX_DATA_BLOCK, flippedBlock));
    }
    addUnitPort(*unit);
    const PortWatch port(unit->portPath());
    const TestImage::Sections image = TestImage::small(5000);
    const QString path = writeImage(image);

    QuietLog quiet;
    const LogCapture log;
    WorkerRig rig;
    if (request == "restore") {
        rig.restore(path, TestImage::dataSize(image));
    } else {
        rig.setVerify(true);
        rig.search();
        rig.install(path, TestImage::dataSize(image));
    }
    QVERIFY(rig.waitForResults(request == "restore" ? 1 : 2, INSTALL_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events.last(), QString(succeeds ? "result:true" : "result:false"));
    const QStringList lines = log.lines();
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(line); }),
             qPrintable("missing log line: " + line));
    if (succeeds)
        QCOMPARE(unit->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
                 TestImage::memoryImage(image, int(SimulatedUnit::MEMORY_SIZE)));
    // Verification reads the unit's memory with the loader's CRC command, one per section.
    QCOMPARE(unit->framesReceived(SimulatedUnit::CMD_CRC_CHECK) > 0, flippedBlock > 0 || succeeds);
    QCOMPARE(port.hostDescriptors(), 0);
}

void tst_UpdateWorker::installationWithoutSearchFails()
{
    const TestImage::Sections image = TestImage::small();
    const QString path = writeImage(image);

    const LogCapture log;
    WorkerRig rig;
    rig.install(path, TestImage::dataSize(image));
    QVERIFY(rig.waitForResults(1, SEARCH_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"result:false"}));
    QVERIFY(log.contains("UpdateWorker::doInstallFirmware No device found yet!"));
}

void tst_UpdateWorker::installationAfterAFailedSearchFails()
{
    auto unit = startUnit();
    unit->setSilent(true);
    const PortWatch port(unit->portPath());
    addUnitPort(*unit);
    const TestImage::Sections image = TestImage::small();
    const QString path = writeImage(image);

    WorkerRig rig;
    rig.search();
    rig.install(path, TestImage::dataSize(image));
    QVERIFY(rig.waitForResults(2, INSTALL_TIMEOUT_MS));
    QCOMPARE(rig.recorder.events, QStringList({"result:false", "result:false"}));
    QCOMPARE(unit->framesReceived(), 0);
    QCOMPARE(port.hostDescriptors(), 0);
}

void tst_UpdateWorker::controllerReportsTheUnitFound()
{
    auto unit = startUnit("52.02(2316),Talvo 400 L");
    addUnitPort(*unit);

    UpdateDriver driver;
    QSignalSpy activeChanged(&driver, &UpdateDriver::activeChanged);
    driver.search(true);
    QVERIFY(driver.active());
    QVERIFY(activeChanged.wait(SEARCH_TIMEOUT_MS));
    QVERIFY(!driver.active());
    QVERIFY(driver.result());
    QCOMPARE(driver.modelName(), QString("Talvo 400 L"));
    QCOMPARE(driver.versionCurrent(), QString("52.02"));
    QCOMPARE(driver.modelType(), int(TargetInfo::TARGET_TALVO_L));
    QCOMPARE(activeChanged.count(), 1);
}

// The unit's path and serial number travel with what the probe found: the journal is read for the
// unit the search met, also once its port is no longer listed.
void tst_UpdateWorker::controllerKeepsEachPortAsProbed()
{
    auto unit = startUnit();
    unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS, QByteArray(2, '\xFF'));
    PortInfo listed = PortEnumerator::portForDevice(unit->portPath(), UNIT_VENDOR_ID, UNIT_PRODUCT_ID);
    listed.serialNumber = QStringLiteral("TV800123");
    PortEnumerator::addExtraPort(listed);
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(InstallJournal::write({"TV800123", "Talvo 800 L", 2, "52.02", "52.05"}));

    UpdateDriver driver;
    QSignalSpy activeChanged(&driver, &UpdateDriver::activeChanged);
    driver.search(true);
    QVERIFY(activeChanged.wait(SEARCH_TIMEOUT_MS));
    PortEnumerator::clearExtraPorts();
    const int family = driver.restoreFamily();
    const QString model = driver.restoreModel();
    InstallJournal::clear("TV800123");
    QStandardPaths::setTestModeEnabled(false);

    QCOMPARE(driver.probedPorts().size(), 1);
    const ProbeResult probe = driver.probedPorts().first();
    QCOMPARE(probe.reason, UpdateWorker::PortInLoader);
    QCOMPARE(probe.port, unit->portPath().mid(5));
    QCOMPARE(probe.location, unit->portPath());
    QCOMPARE(probe.serialNumber, QString("TV800123"));
    QCOMPARE(driver.searchFailure(), UpdateDriver::SearchUnitInLoader);
    QCOMPARE(family, int(TargetInfo::TARGET_TALVO_L));
    QCOMPARE(model, QString("Talvo 800 L"));
}

void tst_UpdateWorker::controllerStopsTheSearchWithinOneProbeAttempt_data()
{
    QTest::addColumn<bool>("searchAgain");
    QTest::newRow("stopped") << false;
    // The stopped search's end must not pass for the end of the one that replaced it.
    QTest::newRow("stopped, then searched again") << true;
}

// Three silent ports would take nine programming-mode requests and three loader probes; a stop
// during the first request leaves it the last one.
void tst_UpdateWorker::controllerStopsTheSearchWithinOneProbeAttempt()
{
    QFETCH(bool, searchAgain);
    std::vector<std::unique_ptr<SimulatedUnit>> units;
    for (int i = 0; i < 3; ++i) {
        units.push_back(startUnit());
        units.back()->setSilent(true);
        addUnitPort(*units.back());
    }
    const auto requests = [&units] {
        int count = 0;
        for (const auto &unit : units)
            count += unit->receivedBytes().count(QByteArray("\x7D\x7D\x01", 3));
        return count;
    };

    UpdateDriver driver;
    QSignalSpy activeChanged(&driver, &UpdateDriver::activeChanged);
    driver.search(true);
    QTRY_VERIFY_WITH_TIMEOUT(requests() >= 1, SEARCH_TIMEOUT_MS);
    driver.search(false);
    QVERIFY(!driver.active());
    if (searchAgain) {
        units.front()->setSilent(false);
        driver.search(true);
    }
    QVERIFY(activeChanged.wait(SEARCH_TIMEOUT_MS));
    QCOMPARE(driver.result(), searchAgain);
    QCOMPARE(requests(), searchAgain ? 2 : 1);
    QTest::qWait(200);
    QCOMPARE(activeChanged.count(), 1);
}

void tst_UpdateWorker::controllerInstallsTheCarriedImage_data()
{
    QTest::addColumn<QByteArray>("versionText");
    QTest::addColumn<QString>("image");
    // A full installation takes some 25 s on the line; the flasher's test installs the S image
    // through the same controller and worker.
    QTest::newRow("L") << QByteArray("52.02(2316),Talvo 400 L") << ":/fmw/l/image.txt";
}

void tst_UpdateWorker::controllerInstallsTheCarriedImage()
{
    QFETCH(QByteArray, versionText);
    QFETCH(QString, image);

    bool ok = false;
    const TestImage::Sections sections = TestImage::read(image, &ok);
    QVERIFY2(ok, qPrintable("cannot read " + image));

    auto unit = startUnit(versionText);
    const PortWatch port(unit->portPath());
    addUnitPort(*unit);

    UpdateDriver driver;
    QSignalSpy activeChanged(&driver, &UpdateDriver::activeChanged);
    QList<int> progress;
    connect(&driver, &UpdateDriver::progressChanged, this, [&] { progress << driver.progress(); });
    driver.search(true);
    QVERIFY(activeChanged.wait(SEARCH_TIMEOUT_MS));
    QVERIFY(driver.result());
    // The catalogue's size is the image's data byte count, so that the progress can reach 100.
    TargetInfo target;
    target.setName(driver.modelName());
    QCOMPARE(target.firmwareSize(), TestImage::dataSize(sections));

    const QuietLog quiet;
    driver.install();
    QVERIFY(driver.active());
    QVERIFY(activeChanged.wait(INSTALL_TIMEOUT_MS));
    QVERIFY(driver.result());
    QCOMPARE(activeChanged.count(), 2);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last(), 100);
    for (int i = 1; i < progress.size(); ++i)
        QCOMPARE(progress.at(i), progress.at(i - 1) + 1);
    QCOMPARE(progress.first(), 1);
    QCOMPARE(unit->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(sections, int(SimulatedUnit::MEMORY_SIZE)));
    // The worker closes the port right after it has sent the result.
    QTRY_COMPARE_WITH_TIMEOUT(port.hostDescriptors(), 0, 5000);
}

QTEST_GUILESS_MAIN(tst_UpdateWorker)
#include "tst_updateworker.moc"
