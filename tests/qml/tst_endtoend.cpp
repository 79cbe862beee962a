// The whole program but its start-up: the wizard's scenes from the bundle, the real controller and
// worker, and a simulated unit on a pseudo-terminal presented as the unit's USB serial port.

#include "installjournal.h"
#include "portenumerator.h"
#include "testimage.h"
#include "translation.h"
#include "unitsupport.h"
#include "updatedriver.h"

#include <QFile>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QtQml>
#include <QtQuickTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// The USB serial number of the simulated unit's port.
const QString UNIT_SERIAL_NUMBER = QStringLiteral("TV0042");

// What the test may do with the unit at the other end of the line.

class UnitControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString portPath READ portPath CONSTANT)

public:
    explicit UnitControl(QObject *parent = nullptr) : QObject(parent) {}

    bool start()
    {
        if (!_unit.start())
            return false;
        PortEnumerator::setSystemPortsIncluded(false);
        plug();
        return true;
    }

    // The cable pulled: the line closes and the port leaves the list.
    Q_INVOKABLE void unplug()
    {
        PortEnumerator::clearExtraPorts();
        _unit.hangUp();
    }

    // The cable plugged in (again): a new line, listed with the unit's identifiers and serial number.
    Q_INVOKABLE bool plug()
    {
        // Powered up again: the unit starts its application, or stays in its loader without one.
        _unit.setMode(SimulatedUnit::Mode::Application);
        if (!_unit.start())
            return false;
        PortEnumerator::clearExtraPorts();
        PortInfo port = PortEnumerator::portForDevice(_unit.portPath(), UNIT_VENDOR_ID, UNIT_PRODUCT_ID);
        port.serialNumber = UNIT_SERIAL_NUMBER;
        PortEnumerator::addExtraPort(port);
        return true;
    }

    QString portPath() const { return _unit.portPath(); }

    // A unit with older firmware in its memory, waiting for the programming-mode request.
    Q_INVOKABLE void reset(const QString &versionText)
    {
        _unit.setMode(SimulatedUnit::Mode::Application);
        _unit.setAnswersHandshakeInLoader(true);
        _unit.eraseMemory();
        _unit.loadDefaultFirmware();
        _unit.setVersionText(versionText.toLatin1());
        _unit.setKnowsCrcCheck(true);
        _unit.clearFrameFaults();
        _unit.resetCounters();
    }

    // The loader's next answer to its version command comes `ms` late (none: 0).
    Q_INVOKABLE void delayLoaderVersion(int ms)
    {
        if (ms > 0)
            _unit.addFrameFault(SimulatedUnit::FrameFault::late(
                SimulatedUnit::CMD_TX_BSL_VERSION,
                _unit.framesReceived(SimulatedUnit::CMD_TX_BSL_VERSION) + 1, ms));
    }

    // A loader without the CRC check answers it as an unknown command.
    Q_INVOKABLE void setKnowsCrcCheck(bool knows) { _unit.setKnowsCrcCheck(knows); }

    // True when every byte of every section of the image is in the unit's memory.
    Q_INVOKABLE bool memoryHoldsImage(const QString &imagePath) const
    {
        bool ok = false;
        const TestImage::Sections sections = TestImage::read(imagePath, &ok);
        return ok && !sections.isEmpty() && !sections.values().contains(QByteArray()) &&
               memoryDifference(_unit, sections).isEmpty();
    }

    Q_INVOKABLE int imageSize(const QString &imagePath) const
    {
        return int(TestImage::dataSize(TestImage::read(imagePath)));
    }

    // Its last installation broke off: no application, only the loader answers.
    Q_INVOKABLE void strand()
    {
        _unit.loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS, QByteArray(2, '\xFF'));
    }

    // Another program holds the port, as a terminal program would; false lets it go.
    Q_INVOKABLE bool holdPort(bool hold)
    {
        if (_holder >= 0)
            ::close(_holder);
        _holder = hold ? ::open(qPrintable(_unit.portPath()), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        return !hold || (_holder >= 0 && flock(_holder, LOCK_EX | LOCK_NB) == 0);
    }

    // The family that the journal holds for the unit, by the serial number of its port.
    Q_INVOKABLE int journalFamily() const { return InstallJournal::read(UNIT_SERIAL_NUMBER).family; }

    Q_INVOKABLE int handshakesAnswered() const { return _unit.handshakesAnswered(); }
    Q_INVOKABLE int blocksWritten() const { return _unit.blocksWritten(); }
    Q_INVOKABLE int massErases() const { return _unit.massErases(); }

private:
    SimulatedUnit _unit;
    int _holder = -1;
};

class EndToEndSetup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // The loader logs every frame; TALVO_E2E_LOG=1 shows it. By category: Quick Test puts its
        // own message handler in place only when the first test case starts.
        if (qEnvironmentVariableIsEmpty("TALVO_E2E_LOG"))
            QLoggingCategory::setFilterRules(QStringLiteral("talvo.*.debug=false"));
        qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
        Translation::registerType();
        // As the window program makes its controllers.
        UpdateDriver::setFastRepliesByDefault(true);
        // The journal goes to a folder of the tests, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(InstallJournal::path());
        if (!_unit.start())
            qFatal("the simulated unit could not open a pseudo-terminal");
        engine->rootContext()->setContextProperty(QStringLiteral("simulatedUnit"), &_unit);
    }

private:
    UnitControl _unit;
};

QUICK_TEST_MAIN_WITH_SETUP(endtoend, EndToEndSetup)

#include "tst_endtoend.moc"
