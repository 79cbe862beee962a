// The whole program but its start-up: the wizard's scenes from the bundle, the real controller and
// worker, and a simulated unit on a pseudo-terminal presented as the unit's USB serial port.

#include "portenumerator.h"
#include "simulatedunit.h"
#include "updatedriver.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml>
#include <QtQuickTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const quint16 UNIT_VENDOR = 1240;
const quint16 UNIT_PRODUCT = 223;

// Reads a TI-TXT image into its sections (start address and bytes). Kept apart from the
// program's own reader so that the comparison does not take the program's word for it.
QMap<quint32, QByteArray> readImage(const QString &path)
{
    QMap<quint32, QByteArray> sections;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return sections;
    quint32 address = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('@')) {
            address = line.mid(1).toUInt(nullptr, 16);
            sections.insert(address, QByteArray());
        } else if (line == "q") {
            break;
        } else if (!line.isEmpty()) {
            sections[address].append(QByteArray::fromHex(line));
        }
    }
    return sections;
}

} // namespace

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
        PortEnumerator::clearExtraPorts();
        PortEnumerator::addExtraPort(
            PortEnumerator::portForDevice(_unit.portPath(), UNIT_VENDOR, UNIT_PRODUCT));
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
        _unit.resetCounters();
    }

    // True when every byte of every section of the image is in the unit's memory.
    Q_INVOKABLE bool memoryHoldsImage(const QString &imagePath) const
    {
        const QMap<quint32, QByteArray> sections = readImage(imagePath);
        if (sections.isEmpty())
            return false;
        for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
            if (it.value().isEmpty() || _unit.memory(it.key(), it.value().size()) != it.value())
                return false;
        }
        return true;
    }

    Q_INVOKABLE int imageSize(const QString &imagePath) const
    {
        int size = 0;
        for (const QByteArray &section : readImage(imagePath))
            size += section.size();
        return size;
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
        // The loader logs every frame; TALVO_E2E_LOG=1 shows it.
        if (qEnvironmentVariableIsEmpty("TALVO_E2E_LOG"))
            QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
        if (!_unit.start())
            qFatal("the simulated unit could not open a pseudo-terminal");
        engine->rootContext()->setContextProperty(QStringLiteral("simulatedUnit"), &_unit);
    }

private:
    UnitControl _unit;
};

QUICK_TEST_MAIN_WITH_SETUP(endtoend, EndToEndSetup)

#include "tst_endtoend.moc"
