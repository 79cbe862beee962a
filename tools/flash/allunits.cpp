#include "allunits.h"

#include "families.h"
#include "flashsession.h"
#include "interruptguard.h"
#include "portenumerator.h"
#include "report.h"
#include "stationrecord.h"
#include "updatedriver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

const int CHANNEL_OUT = 0;
const int CHANNEL_ERR = 1;

const int LIVE_REDRAW_MS = 200;
const int LIVE_BAR_WIDTH = 20;

// The terminal's width on standard output; 80 where it does not tell.
int terminalColumns()
{
#ifdef Q_OS_UNIX
    winsize size = {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

bool gone[2] = {false, false}; // standard output, standard error: the reader went away

// As a single run does: a stream nobody reads any more is left alone, the installations go on.
void write(int channel, const QByteArray &bytes)
{
    std::FILE *stream = channel == CHANNEL_OUT ? stdout : stderr;
    if (gone[channel])
        return;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) ||
        std::fflush(stream) == EOF)
        gone[channel] = true;
}

// The name a port is shown by: "ttyACM0" for /dev/ttyACM0, "pts/3" for /dev/pts/3, "COM7".
QString labelOf(const QString &device)
{
    const QString devices = QStringLiteral("/dev/");
    return device.startsWith(devices) ? device.mid(devices.size()) : device;
}

// One unit's run of this program. Its own process group keeps the terminal's interrupts away from
// it: they come once, passed on by the process that started it.
class UnitProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_UNIX
        ::setpgid(0, 0);
#endif
    }
};

} // namespace

AllUnits::AllUnits(QObject *parent) : QObject(parent) {}

AllUnits::~AllUnits() = default;

int AllUnits::combinedStatus(const QList<int> &statuses)
{
    if (statuses.isEmpty())
        return EXIT_NO_UNIT;
    if (statuses.contains(EXIT_STOPPED))
        return EXIT_STOPPED;
    const int first = statuses.first();
    const bool shared =
        std::all_of(statuses.cbegin(), statuses.cend(), [first](int s) { return s == first; });
    return shared ? first : EXIT_FAILED;
}

int AllUnits::findUnits()
{
    for (const QString &serialNumber : _serialNumbers) {
        QStringList sharing;
        if (PortEnumerator::identifiesOneUnit(serialNumber, &sharing))
            continue;
        write(CHANNEL_ERR,
              QStringLiteral("Error: the USB serial number %1 is shown by more than one port (%2): "
                             "it identifies no unit; name the ports with --port\n")
                  .arg(serialNumber, sharing.join(QStringLiteral(", ")))
                  .toLocal8Bit());
        return EXIT_USAGE;
    }
    QStringList devices = _ports;
    QStringList labels;
    for (const QString &device : devices)
        labels << labelOf(device);
    QStringList missing = _serialNumbers;
    if (devices.isEmpty()) {
        for (const PortInfo &port : PortEnumerator::availablePorts()) {
            if (!PortEnumerator::matches(port, UpdateDriver::_vendor, UpdateDriver::_product))
                continue;
            if (!_serialNumbers.isEmpty() && !_serialNumbers.contains(port.serialNumber))
                continue;
            missing.removeAll(port.serialNumber);
            devices << PortEnumerator::userPath(port.portName, port.systemLocation);
            labels << port.portName;
        }
    }
    if (!missing.isEmpty()) {
        // Nothing starts: the station asked for units that are not there.
        write(CHANNEL_ERR, QStringLiteral("Error: no port has a unit with the USB serial number %1 (is it "
                                          "connected?)\n")
                               .arg(missing.join(QStringLiteral(", ")))
                               .toLocal8Bit());
        return EXIT_NO_UNIT;
    }
    for (int i = 0; i < devices.size(); ++i) {
        // Two runs on one device would only get in each other's way.
        if (devices.indexOf(devices.at(i)) != i)
            continue;
        auto unit = std::make_unique<Unit>();
        unit->device = devices.at(i);
        unit->label = Report::printable(labels.at(i)); // only ever shown
        unit->serialNumber = PortEnumerator::listedPort(unit->device).serialNumber;
        unit->phase = QStringLiteral("searching");
        _units.push_back(std::move(unit));
    }
    return EXIT_OK;
}

int AllUnits::run()
{
    const int found = findUnits();
    if (found != EXIT_OK)
        return found;
    if (_units.empty()) {
        write(CHANNEL_ERR, "Error: no Talvo unit found (is it connected and switched on?)\n");
        return EXIT_NO_UNIT;
    }

    InterruptGuard guard;
    connect(&guard, &InterruptGuard::interrupted, this, &AllUnits::onInterrupted);
    guard.setGuarding(true);

    _resultDir = std::make_unique<QTemporaryDir>();
    QEventLoop loop;
    _loop = &loop;
    for (const auto &unit : _units)
        start(*unit);
    // Redrawn at most this often: sixteen units' progress would otherwise keep the terminal busy.
    QTimer redrawTimer;
    if (_live) {
        connect(&redrawTimer, &QTimer::timeout, this, [this] {
            if (_dirty)
                redraw();
        });
        redrawTimer.start(LIVE_REDRAW_MS);
        redraw();
    }
    if (_running > 0)
        loop.exec();
    _loop = nullptr;
    _resultDir.reset(); // the runs' result files were read as each run ended
    guard.setGuarding(false);
    if (_live)
        redraw();

    printSummary();
    QList<int> statuses;
    for (const auto &unit : _units)
        statuses << statusOf(*unit);
    return combinedStatus(statuses);
}

void AllUnits::start(Unit &unit)
{
    unit.process = std::make_unique<UnitProcess>();
    QProcess *process = unit.process.get();
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, &unit] { relay(unit, CHANNEL_OUT, false); });
    connect(process, &QProcess::readyReadStandardError, this,
            [this, &unit] { relay(unit, CHANNEL_ERR, false); });
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, &unit] { finish(unit); });
    connect(process, &QProcess::errorOccurred, this, [this, &unit](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        write(CHANNEL_ERR,
              QStringLiteral("[%1] Error: could not start %2: %3\n")
                  .arg(unit.label, QCoreApplication::applicationFilePath(), unit.process->errorString())
                  .toLocal8Bit());
        finish(unit);
    });
    ++_running;
    unit.clock.start();
    // A unit asked for by its serial number is named so to its run, whose messages then name it so.
    QStringList arguments =
        _unitArguments + (_serialNumbers.isEmpty()
                              ? QStringList{QStringLiteral("--port"), unit.device}
                              : QStringList{QStringLiteral("--serial"), unit.serialNumber});
    if (_live)
        arguments << QStringLiteral("--json"); // the events tell the unit's phase and progress
    if (_resultDir->isValid()) {
        unit.resultFile = _resultDir->filePath(QStringLiteral("unit-%1.json").arg(_running));
        arguments << QStringLiteral("--result-file") << unit.resultFile;
    }
    process->start(QCoreApplication::applicationFilePath(), arguments);
    process->closeWriteChannel();
}

void AllUnits::relay(Unit &unit, int channel, bool all)
{
    QByteArray &pending = unit.pending[channel];
    pending +=
        channel == CHANNEL_OUT ? unit.process->readAllStandardOutput() : unit.process->readAllStandardError();
    if (all && !pending.isEmpty() && !pending.endsWith('\n'))
        pending += '\n';
    const QByteArray prefix = '[' + unit.label.toLocal8Bit() + "] ";
    int from = 0;
    for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', from)) {
        QByteArray line = pending.mid(from, end - from);
        from = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!_live) {
            takeLine(unit, channel, line);
            write(channel, prefix + line + '\n');
        } else if (channel == CHANNEL_OUT)
            takeEvent(unit, line);
        else
            redraw(prefix + line + '\n');
    }
    pending.remove(0, from);
}

void AllUnits::takeEvent(Unit &unit, const QByteArray &line)
{
    const QJsonObject event = QJsonDocument::fromJson(line).object();
    const QString name = event.value(QStringLiteral("event")).toString();
    if (name == QLatin1String("unit")) {
        unit.model = event.value(QStringLiteral("model")).toString(unit.model);
        unit.version = event.value(QStringLiteral("version")).toString(unit.version);
        unit.serialNumber = event.value(QStringLiteral("serialNumber")).toString(unit.serialNumber);
        unit.phase = event.value(QStringLiteral("reason")).toString(unit.phase);
    } else if (name == QLatin1String("phase")) {
        unit.phase = event.value(QStringLiteral("phase")).toString(unit.phase);
    } else if (name == QLatin1String("progress")) {
        unit.percent = event.value(QStringLiteral("percent")).toInt(unit.percent);
    } else if (name == QLatin1String("result")) {
        unit.model = event.value(QStringLiteral("model")).toString(unit.model);
    }
    _dirty = true;
}

void AllUnits::takeLine(Unit &unit, int channel, const QByteArray &line)
{
    const QString text = QString::fromUtf8(line);
    const QString model = QStringLiteral("Model:"), version = QStringLiteral("Installed version:");
    bool isPercent = false;
    const int percent = text.endsWith(QLatin1String(" %")) ? text.chopped(2).toInt(&isPercent) : -1;
    if (channel == CHANNEL_OUT && text.startsWith(model))
        unit.model = text.mid(model.size()).trimmed();
    else if (channel == CHANNEL_OUT && text.startsWith(version))
        unit.version = text.mid(version.size()).trimmed();
    else if (channel == CHANNEL_ERR && isPercent)
        unit.percent = percent;
}

void AllUnits::tellOfCrash(Unit &unit)
{
    // Of a run that did not exit: its signal; on Windows the code of the exception that ended it.
    const int code = unit.process->exitCode();
#ifdef Q_OS_UNIX
    const QString how = QStringLiteral("signal %1").arg(code);
    const int status = 128 + code; // as a shell tells it
#else
    const QString how = QStringLiteral("exception 0x%1").arg(uint(code), 8, 16, QLatin1Char('0'));
    const int status = code;
#endif
    const Family *family = Families::ofModel(unit.model);
    const QString command =
        FlashSession::restoreCommand(family ? family->family : TargetInfo::TARGET_UNKNOWN, unit.device,
                                     _serialNumbers.isEmpty() ? QString() : unit.serialNumber);
    const QString prefix = QLatin1Char('[') + unit.label + QStringLiteral("] ");
    QString text = prefix +
                   QStringLiteral("Error: the run on this unit was ended by %1; a unit cut off while it "
                                  "was written stays in its loader. Restore it with\n")
                       .arg(how) +
                   prefix + QStringLiteral("  ") + command + QLatin1Char('\n');
    if (!_recordFile.isEmpty()) {
        StationRecord::Row row;
        row.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        row.program = QCoreApplication::applicationVersion();
        row.action = QStringLiteral("install");
        row.port = unit.device;
        row.usbLocation = PortEnumerator::listedPort(unit.device).usbLocation;
        row.serialNumber = unit.serialNumber;
        row.model = unit.model;
        row.family = family ? family->letter : QString();
        row.versionFound = unit.version;
        // Found, so its image was about to be written or was being written.
        if (family)
            row.imageSha256 = StationRecord::sha256Of(family->image);
        row.reason = QStringLiteral("crashed");
        row.exitStatus = status;
        row.verified = QStringLiteral("no");
        row.seconds = unit.seconds;
        QString why;
        const RecordFile::Outcome outcome =
            StationRecord::append(_recordFile, {row}, RecordFile::Waiting(), &why);
        if (outcome != RecordFile::Outcome::Written)
            text += prefix +
                    QStringLiteral(
                        "Error: the station record %1 cannot be written (%2): this row is not in it:\n")
                        .arg(_recordFile, outcome == RecordFile::Outcome::Failed
                                              ? why
                                              : QStringLiteral("another process holds it")) +
                    prefix + Report::printable(StationRecord::csvLine(row).chopped(2)) + QLatin1Char('\n');
    }
    if (_live)
        redraw(text.toLocal8Bit());
    else
        write(CHANNEL_ERR, text.toLocal8Bit());
}

QString AllUnits::liveLine(const Unit &unit) const
{
    int labelWidth = 0, serialWidth = 1;
    for (const auto &other : _units) {
        labelWidth = qMax(labelWidth, int(other->label.size()));
        serialWidth = qMax(serialWidth, int(Report::printable(other->serialNumber).size()));
    }
    const int filled = qBound(0, unit.percent, 100) * LIVE_BAR_WIDTH / 100;
    const QString bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                        QString(LIVE_BAR_WIDTH - filled, QLatin1Char('-')) + QLatin1Char(']');
    const QString percent =
        unit.percent < 0 ? QStringLiteral("    ") : QStringLiteral("%1 %").arg(unit.percent, 3);
    const QString state = unit.ended ? resultOf(unit) : unit.phase;
    return QStringList{
        unit.label.leftJustified(labelWidth),
        (unit.serialNumber.isEmpty() ? QStringLiteral("-") : Report::printable(unit.serialNumber))
            .leftJustified(serialWidth),
        (unit.model.isEmpty() ? QStringLiteral("-") : Report::printable(unit.model)).leftJustified(11),
        state.leftJustified(14),
        bar,
        percent}
        .join(QStringLiteral("  "));
}

void AllUnits::redraw(const QByteArray &above)
{
    // Back to the first unit's line and down from there, each line cleared first; lines no wider
    // than the terminal, so that none wraps and the count of lines to go back stays right.
    const int columns = terminalColumns();
    QByteArray text;
    if (_drawnLines > 0)
        text += "\x1b[" + QByteArray::number(_drawnLines) + 'A';
    text += "\r\x1b[J" + above;
    for (const auto &unit : _units)
        text += liveLine(*unit).left(qMax(1, columns - 1)).toLocal8Bit() + '\n';
    _drawnLines = int(_units.size());
    _dirty = false;
    write(CHANNEL_OUT, text);
}

void AllUnits::finish(Unit &unit)
{
    if (unit.ended)
        return;
    unit.ended = true;
    unit.seconds = unit.clock.nsecsElapsed() / 1e9;
    unit.started = unit.process->error() != QProcess::FailedToStart;
    if (unit.started) {
        relay(unit, CHANNEL_OUT, true);
        relay(unit, CHANNEL_ERR, true);
        unit.crashed = unit.process->exitStatus() != QProcess::NormalExit;
        unit.status = unit.crashed ? -1 : unit.process->exitCode();
        readResult(unit);
        if (unit.crashed && !_interrupted)
            tellOfCrash(unit);
    }
    _dirty = true;
    if (--_running == 0 && _loop)
        _loop->quit();
}

// The run's own account of how it ended: its status and the unit's model. A run that crashed or
// could not write it leaves its exit status, and no model.
void AllUnits::readResult(Unit &unit)
{
    QFile file(unit.resultFile);
    if (unit.resultFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject result = QJsonDocument::fromJson(file.readAll()).object();
    if (result.value(QStringLiteral("event")).toString() != QLatin1String("result"))
        return;
    unit.model = result.value(QStringLiteral("model")).toString();
    const QJsonValue exit = result.value(QStringLiteral("exit"));
    if (!unit.crashed && exit.isDouble())
        unit.status = exit.toInt();
}

void AllUnits::onInterrupted(int signalNumber)
{
#ifdef Q_OS_UNIX
    _interrupted = true;
    for (const auto &unit : _units) {
        if (unit->process && unit->process->state() == QProcess::Running)
            ::kill(pid_t(unit->process->processId()), signalNumber);
    }
#else
    Q_UNUSED(signalNumber)
#endif
}

int AllUnits::statusOf(const Unit &unit) const
{
    if (!unit.started)
        return EXIT_FAILED;
    // A run that ended by the interrupt passed on to it (outside erase and write) was stopped too.
    if (unit.crashed)
        return _interrupted ? EXIT_STOPPED : EXIT_FAILED;
    return unit.status;
}

QString AllUnits::resultOf(const Unit &unit) const
{
    if (!unit.started)
        return QStringLiteral("not started");
    if (unit.crashed && !_interrupted)
        return QStringLiteral("crashed");
    switch (statusOf(unit)) {
    case EXIT_OK:
        return QStringLiteral("installed");
    case EXIT_STOPPED:
        return QStringLiteral("stopped");
    case EXIT_USAGE:
        return QStringLiteral("wrong usage");
    case EXIT_NO_UNIT:
        return QStringLiteral("no unit found");
    case EXIT_UNUSABLE:
        return QStringLiteral("unusable");
    case EXIT_NOT_RECORDED:
        return QStringLiteral("not recorded");
    default:
        return QStringLiteral("failed");
    }
}

void AllUnits::printSummary() const
{
    QList<QStringList> rows{{QStringLiteral("port"), QStringLiteral("model"), QStringLiteral("result"),
                             QStringLiteral("status"), QStringLiteral("seconds")}};
    for (const auto &unit : _units) {
        const bool hasStatus = unit->started && !unit->crashed;
        rows << QStringList{unit->label,
                            unit->model.isEmpty() ? QStringLiteral("-") : Report::printable(unit->model),
                            resultOf(*unit), hasStatus ? QString::number(unit->status) : QStringLiteral("-"),
                            QString::number(unit->seconds, 'f', 1)};
    }
    int widths[5] = {};
    for (const QStringList &row : rows) {
        for (int column = 0; column < 5; ++column)
            widths[column] = qMax(widths[column], int(row.at(column).size()));
    }
    QString table = QStringLiteral("\n");
    for (const QStringList &row : rows) {
        QStringList cells;
        for (int column = 0; column < 5; ++column) {
            // Text to the left, numbers to the right.
            cells << (column < 3 ? row.at(column).leftJustified(widths[column])
                                 : row.at(column).rightJustified(widths[column]));
        }
        table += cells.join(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    write(CHANNEL_OUT, table.toLocal8Bit());
}
