// A unit pulled off during an update, with the real wizard scene, controller and worker: the wizard
// must show the update error within a few seconds, the window's event loop must keep turning all
// the while, the port must be let go, and a new search must find the unit when it comes back on
// another port.
#include "logcapture.h"
#include "processsupport.h"
#include "startup.h"
#include "translation.h"
#include "unitsupport.h"
#include "updatedriver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QSet>
#include <QTimer>
#include <QtTest>

#include <optional>

namespace {

const int HANG_UP_AT_BLOCK = 20;
// From the hang-up to the error page: ten failed attempts of the block (80 ms each) and the
// scene's 500 ms pause before it asks for the result, with room for a busy machine.
const int ERROR_PAGE_BOUND_MS = 5000;
// The longest the window's event loop may stand still while the worker talks to the unit.
const int EVENT_LOOP_GAP_BOUND_MS = 250;

// Measures how long the event loop of the thread it lives on goes without turning.
class Heartbeat : public QObject
{
public:
    Heartbeat()
    {
        _timer.setInterval(10);
        connect(&_timer, &QTimer::timeout, this, [this] {
            _longest = qMax(_longest, _sinceLast.restart());
            ++_beats;
        });
        _sinceLast.start();
        _timer.start();
    }
    qint64 longestGapMs() const { return _longest; }
    int beats() const { return _beats; }

private:
    QTimer _timer;
    QElapsedTimer _sinceLast;
    qint64 _longest = 0;
    int _beats = 0;
};

} // namespace

class UnplugTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void unplugDuringUpdateShowsTheErrorAndTheUnitIsFoundAgain();

private:
    QString state() const { return _mainFrame->property("state").toString(); }
    void pressMainButton() { QMetaObject::invokeMethod(_window, "mainButtonPressed"); }
    QString textOf(const char *name) const
    {
        QObject *item = _window->findChild<QObject *>(name);
        return item ? item->property("text").toString() : QString();
    }

    QQmlApplicationEngine *_engine = nullptr;
    QObject *_window = nullptr;
    QObject *_mainFrame = nullptr;
    std::optional<QuietLog> _quiet;
};

void UnplugTest::initTestCase()
{
    _quiet.emplace();
    PortEnumerator::setSystemPortsIncluded(false);
    qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    Translation::registerType();
}

void UnplugTest::cleanupTestCase()
{
    delete _engine;
    PortEnumerator::clearExtraPorts();
    _quiet.reset();
}

void UnplugTest::unplugDuringUpdateShowsTheErrorAndTheUnitIsFoundAgain()
{
    SimulatedUnit unit;
    SimulatedUnit::FrameFault pull;
    pull.kind = SimulatedUnit::FrameFault::HangUp;
    pull.command = SimulatedUnit::CMD_RX_DATA_BLOCK;
    pull.first = HANG_UP_AT_BLOCK;
    unit.addFrameFault(pull);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    const QString firstPort = unit.portPath();
    const QSet<int> unitOwn = descriptorsOf(firstPort);
    addUnitPort(unit);

    _engine = new QQmlApplicationEngine;
    prepareImportPaths(*_engine);
    _engine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    QCOMPARE(_engine->rootObjects().size(), 1);
    _window = _engine->rootObjects().first();
    _mainFrame = _window->findChild<QObject *>("mainFrame");
    QVERIFY(_mainFrame);
    QObject *driver = _window->findChild<QObject *>("updateDriver");
    QVERIFY(driver);

    // Search and find the unit, as the user does.
    pressMainButton();
    QCOMPARE(state(), QString("SEARCH"));
    QTRY_COMPARE_WITH_TIMEOUT(state(), QString("DEVICE_FOUND"), 10000);

    // Install; the cable is pulled at a block in the middle of the image.
    Heartbeat heartbeat;
    pressMainButton();
    QCOMPARE(state(), QString("UPDATE"));
    QTRY_VERIFY_WITH_TIMEOUT(!unit.isRunning(), 30000);
    QElapsedTimer sinceUnplug;
    sinceUnplug.start();
    QTRY_COMPARE_WITH_TIMEOUT(state(), QString("UPDATE_ERROR"), ERROR_PAGE_BOUND_MS);
    const qint64 toErrorPage = sinceUnplug.elapsed();
    QCOMPARE(textOf("textStatusHead"), QString("Error: Update failed"));
    QCOMPARE(textOf("mainButton"), QString("MAIN MENU"));
    const int progress = driver->property("progress").toInt();
    QVERIFY2(progress > 0 && progress < 100, qPrintable(QString::number(progress)));
    QCOMPARE(unit.framesReceived(SimulatedUnit::CMD_RX_DATA_BLOCK), HANG_UP_AT_BLOCK);
    // The installer told the pulled cable from a refused block.
    const InstallOutcome outcome = qobject_cast<UpdateDriver *>(driver)->outcome();
    QCOMPARE(outcome.failure, InstallOutcome::Failure::PortLost);
    QVERIFY(outcome.erased);

    // The window kept turning through the whole installation.
    QVERIFY(heartbeat.beats() > 0);
    QVERIFY2(heartbeat.longestGapMs() < EVENT_LOOP_GAP_BOUND_MS,
             qPrintable(QString("event loop stood still for %1 ms").arg(heartbeat.longestGapMs())));
    QTRY_VERIFY_WITH_TIMEOUT((descriptorsOf(firstPort) - unitOwn).isEmpty(), 2000);

    // Back to the start; the unit returns on another port.
    pressMainButton();
    QCOMPARE(state(), QString("WELCOME"));
    PortEnumerator::clearExtraPorts();
    SimulatedUnit returned;
    QVERIFY2(returned.start(), qPrintable(returned.errorString()));
    addUnitPort(returned);
    QElapsedTimer search;
    search.start();
    pressMainButton();
    QTRY_COMPARE_WITH_TIMEOUT(state(), QString("DEVICE_FOUND"), 10000);
    QCOMPARE(driver->property("modelName").toString(), QString("Talvo 400 S"));
    QCOMPARE(driver->property("versionCurrent").toString(), QString("49.05"));
    QCOMPARE(returned.handshakesAnswered(), 1);

    qInfo("hang-up at block %d: error page %lld ms later (bound %d); longest event-loop gap %lld ms (bound "
          "%d); "
          "search on the new port %lld ms",
          HANG_UP_AT_BLOCK, toErrorPage, ERROR_PAGE_BOUND_MS, heartbeat.longestGapMs(),
          EVENT_LOOP_GAP_BOUND_MS, search.elapsed());
}

QTEST_MAIN(UnplugTest)
#include "tst_unplug.moc"
