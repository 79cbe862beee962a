// The program's figures, measured side by side in one run and printed as one table:
// - full installations of the S and the L image through the controller and its worker thread
//   against a simulated unit paced like a 115200-baud line (talvo-sim, in a process of its own),
//   compared with the protocol's own minimum for that line, and the CPU time this process (the
//   controller and the worker) spends meanwhile as a share of the wall time; the S image also with
//   fast replies (talvo-flash --fast) and as the window installs it, against its own minimum, and
//   the plain installation against the fast one;
// - talvo-flash --all on four and on sixteen paced units (families mixed) against talvo-flash on one
//   unit alone,
//   and the CPU time of the flasher's processes per unit as a share of the wall time;
// - readByte's time-out on a silent line (median, 99th percentile) and the CPU an idle wait costs;
// - the programming-mode handshake's round trip and a whole search with the unit present;
// - the time from starting TalvoUpdater (offscreen, in a temporary folder) to its window being
//   shown, and its resident memory then.
// Usage: bench_bsl [--no-install]

#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "BSL_Interface.h"
#include "TextFileIO.h"
#include "logcapture.h"
#include "portenumerator.h"
#include "processsupport.h"
#include "unitsupport.h"
#include "updatedriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#ifndef TALVO_SIM_PATH
#define TALVO_SIM_PATH ""
#endif
#ifndef TALVO_FLASH_PATH
#define TALVO_FLASH_PATH ""
#endif
#ifndef TALVO_APP_PATH
#define TALVO_APP_PATH ""
#endif

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

// One row of the table.
struct Row
{
    QString what;
    QString measured;
    QString reference;
    QString ratio;
};
std::vector<Row> rows;

void addRow(const QString &what, const QString &measured, const QString &reference = QString(),
            const QString &ratio = QString())
{
    rows.push_back(Row{what, measured, reference, ratio});
}

QString ms(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals) + " ms";
}

QString seconds(double valueMs)
{
    return QString::number(valueMs / 1e3, 'f', 2) + " s";
}

// Waits for the controller's end-of-operation signal; false when it does not come in time.
bool waitForResult(UpdateDriver &driver, int timeoutMs)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    QObject::connect(&driver, &UpdateDriver::activeChanged, &loop, [&loop] { loop.exit(0); });
    timeout.start(timeoutMs);
    return loop.exec() == 0;
}

// A simulated unit in a process of its own, so that this process's CPU time is the program's.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments)
    {
        _process.start(QString::fromUtf8(TALVO_SIM_PATH), arguments);
        if (!_process.waitForStarted(5000))
            return;
        const QByteArray line = _process.waitForLine("PORT ", 5000);
        if (line.startsWith("PORT "))
            _port = QString::fromLocal8Bit(line.mid(5));
    }
    ~SimProcess() { _process.stop(3000); }
    QString port() const { return _port; }

private:
    TestProcess _process;
    QString _port;
};

// --------------------------------------------------------------------------------------------
// Serial transport

void readByteTimeout()
{
    SimulatedUnit unit;
    unit.setSilent(true);
    if (!unit.start())
        return;
    BSL_IO_UART uart;
    const std::wstring path = unit.portPath().toStdWString();
    if (!uart.open(path.c_str(), UART_BAUDRATE, UART_PARITY))
        return;
    const int count = 250;
    std::vector<double> times;
    const double cpuBefore = threadCpuMs();
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        uart.readByte();
        times.push_back(one.nsecsElapsed() / 1e6);
    }
    const double wallMs = total.nsecsElapsed() / 1e6;
    const double cpuMs = threadCpuMs() - cpuBefore;
    addRow(QString("readByte time-out, median of %1").arg(count), ms(percentile(times, 0.5), 3),
           ms(TIMEOUT_MS, 0) + " contract");
    addRow(QString("readByte time-out, 99th percentile"), ms(percentile(times, 0.99), 3),
           ms(TIMEOUT_MS, 0) + " contract");
    addRow("idle wait for a byte: CPU per second of waiting", ms(cpuMs / wallMs * 1000.0, 2));
}

void handshakeRoundTrip()
{
    SimulatedUnit unit;
    unit.setPaced(true);
    if (!unit.start())
        return;
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        BSL_Interface bsl(BSL_BUFFER_SIZE);
        if (!bsl.openPort(portOf(unit)))
            return;
        unit.setMode(SimulatedUnit::Mode::Application);
        QString version;
        QElapsedTimer timer;
        timer.start();
        const bool ok = bsl.rxProgrammingMode(version);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (!ok)
            return;
        bsl.closePort();
    }
    const int replyBytes = 3 + int(unit.handshake().versionText.size()) + 1;
    // 40 ms drain, the request and the reply on the wire, 40 ms of quiet after the reply.
    const double minimumMs = 2.0 * TIMEOUT_MS + (3 + replyBytes) * SimulatedUnit::BYTE_TIME_NS_115200 / 1e6;
    const double median = percentile(times, 0.5);
    addRow("handshake round trip, paced unit, median of 20", ms(median), ms(minimumMs) + " minimum",
           QString::number(median / minimumMs, 'f', 2));
}

// --------------------------------------------------------------------------------------------
// Controller and worker

// The whole search, from the controller's request to its result, with the paced unit present.
void searchTime()
{
    SimProcess sim({"--paced", "--family", "S"});
    if (sim.port().isEmpty()) {
        addRow("search with the unit present", "talvo-sim did not start");
        return;
    }
    PortEnumerator::clearExtraPorts();
    PortEnumerator::addExtraPort(PortEnumerator::portForDevice(sim.port(), UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    std::vector<double> times;
    UpdateDriver driver;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer timer;
        timer.start();
        driver.search(true);
        if (!waitForResult(driver, 10000) || !driver.result()) {
            addRow("search with the unit present", "failed");
            return;
        }
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    PortEnumerator::clearExtraPorts();
    const double replyBytes = 3 + QByteArray("49.05(1799),Talvo 400S").size() + 1;
    const double minimumMs = 2.0 * TIMEOUT_MS + (3 + replyBytes) * SimulatedUnit::BYTE_TIME_NS_115200 / 1e6;
    const double median = percentile(times, 0.5);
    addRow("search with the unit present, median of 10", ms(median), ms(minimumMs) + " minimum",
           QString::number(median / minimumMs, 'f', 2));
}

// The protocol's own minimum for an image on the paced line: every byte on the wire, the unit's
// modelled work, and the 40 ms of quiet that ends each reply; two password frames (the refused
// one erases), one mass erase, one data frame per block of the image. With `fast`, as --fast
// installs: no quiet after a reply, then the verification.
double installationMinimumMs(const QString &image, int *blocks, bool fast)
{
    const SimulatedUnit::Timing timing; // talvo-sim's defaults
    const double byteMs = timing.byteTimeNs / 1e6;
    const double perCommand = 1 + 7; // acknowledgement and message reply
    // Without fast replies every reply ends with the 40 ms quiet; fast ones end with their last byte.
    const double quietMs = fast ? 0 : TIMEOUT_MS;
    // The refused password erases the unit, the accepted one is a short command; then the erase.
    double minimumMs = 2 * ((5 + 1 + BSL_PASSWORD_SIZE + perCommand) * byteMs + quietMs) +
                       timing.massEraseUs / 1e3 + timing.commandUs / 1e3;
    minimumMs += (5 + 1 + perCommand) * byteMs + timing.massEraseUs / 1e3 + quietMs;
    QMap<uint32_t, int> sections; // start address -> length
    *blocks = 0;
    if (openTI_TextForRead(image.toLocal8Bit().constData()) == OPERATION_SUCCESSFUL) {
        while (moreDataToRead()) {
            QByteArray block;
            const uint32_t address = readTI_TextFile(BSL_BUFFER_SIZE, block);
            if (block.isEmpty() && address == TXT_EOF)
                break;
            // A block that reaches past the interrupt vectors goes as two frames: the part from
            // 0x10000 on in order, the vectors after every other block.
            const int frames = address < 0x10000 && address + uint32_t(block.size()) > 0x10000 ? 2 : 1;
            minimumMs += block.size() * byteMs +
                         frames * ((5 + 4 + perCommand) * byteMs + timing.blockWriteUs / 1e3 + quietMs);
            *blocks += frames;
            auto last = sections.isEmpty() ? sections.end() : std::prev(sections.end());
            if (last != sections.end() && last.key() + uint32_t(last.value()) == address)
                last.value() += block.size();
            else if (!block.isEmpty())
                sections.insert(address, block.size());
        }
        closeTI_Text();
    }
    if (!fast)
        return minimumMs;
    // Fast replies are always verified: one CRC check per contiguous section, in pieces of 4 KiB,
    // whose data reply is 8 bytes.
    for (const int length : sections) {
        for (int offset = 0; offset < length; offset += 0x1000) {
            const int piece = std::min(0x1000, length - offset);
            minimumMs += (5 + 6 + 1 + 8) * byteMs + std::max(timing.commandUs, piece) / 1e3;
        }
    }
    return minimumMs;
}

enum class InstallMode
{
    Plain,   // talvo-flash --install: each reply ended by the line's quiet
    Verify,  // then every section checked with the loader's CRC command
    Restore, // a unit left in its loader: no handshake, then install and verify
    Fast,    // talvo-flash --install --fast: replies taken by their length, then verified
    Window   // as the window installs: its controllers start with fast replies
};

// A whole installation as the user starts it: search, then the controller's install() with the
// catalogue's image for the unit's family. A restore starts from a unit without firmware. Returns
// the installation's wall time, 0 when it failed.
double installation(const QString &family, const QString &image, InstallMode mode = InstallMode::Plain)
{
    const QString label =
        mode == InstallMode::Restore  ? QString("%1 image: restore of a unit in its loader").arg(family)
        : mode == InstallMode::Verify ? QString("%1 image: installation with verify").arg(family)
        : mode == InstallMode::Fast
            ? QString("%1 image: --fast installation against the paced unit").arg(family)
        : mode == InstallMode::Window ? QString("%1 image: the window's installation").arg(family)
                                      : QString("%1 image: installation against the paced unit").arg(family);
    QStringList arguments{"--paced", "--family", family};
    if (mode == InstallMode::Restore)
        arguments << "--empty";
    SimProcess sim(arguments);
    if (sim.port().isEmpty()) {
        addRow(label, "talvo-sim did not start");
        return 0;
    }
    PortEnumerator::clearExtraPorts();
    PortEnumerator::addExtraPort(PortEnumerator::portForDevice(sim.port(), UNIT_VENDOR_ID, UNIT_PRODUCT_ID));
    UpdateDriver::setFastRepliesByDefault(mode == InstallMode::Window);
    UpdateDriver driver;
    UpdateDriver::setFastRepliesByDefault(false);
    if (mode != InstallMode::Restore) {
        driver.search(true);
        if (!waitForResult(driver, 10000) || !driver.result()) {
            addRow(label, "unit not found");
            return 0;
        }
    }
    driver.setVerifyAfterWrite(mode == InstallMode::Verify);
    const bool fast = mode == InstallMode::Fast || mode == InstallMode::Window;
    if (mode != InstallMode::Window)
        driver.setFastReplies(fast);
    int blocks = 0;
    const double minimumMs = installationMinimumMs(image, &blocks, fast);
    const double cpuBefore = processCpuMs();
    QElapsedTimer timer;
    timer.start();
    if (mode == InstallMode::Restore)
        driver.restoreUnit(family == "S" ? TargetInfo::TARGET_TALVO_S : TargetInfo::TARGET_TALVO_L);
    else
        driver.install();
    const bool ended = waitForResult(driver, 300000);
    const double wallMs = timer.nsecsElapsed() / 1e6;
    const double cpuMs = processCpuMs() - cpuBefore;
    PortEnumerator::clearExtraPorts();
    if (!ended || !driver.result() || driver.progress() != 100) {
        addRow(label, QString("failed at %1 %").arg(driver.progress()));
        return 0;
    }
    addRow(QString("%1 (%2 blocks)").arg(label).arg(blocks), seconds(wallMs), seconds(minimumMs) + " minimum",
           QString::number(wallMs / minimumMs, 'f', 3));
    if (mode == InstallMode::Plain)
        addRow(QString("%1 image: program CPU time / wall time").arg(family),
               QString("%1 %").arg(cpuMs / wallMs * 100.0, 0, 'f', 2),
               QString("%1 ms CPU in %2").arg(cpuMs, 0, 'f', 0).arg(seconds(wallMs)));
    return wallMs;
}

// --------------------------------------------------------------------------------------------
// The command-line flasher

// CPU time of the ended child processes of this process and of theirs, once waited for.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct FlashRun
{
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0; // the flasher and the runs it started, not the simulated units (still running)
};

FlashRun flash(const QStringList &arguments)
{
    FlashRun run;
    QProcess process;
    const double cpuBefore = childrenCpuMs();
    QElapsedTimer timer;
    timer.start();
    process.start(QString::fromUtf8(TALVO_FLASH_PATH), arguments);
    if (!process.waitForFinished(300000))
        process.kill();
    process.waitForFinished(5000);
    run.wallMs = timer.nsecsElapsed() / 1e6;
    run.cpuMs = childrenCpuMs() - cpuBefore;
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

// talvo-flash --all --install on `count` paced units at once (families mixed), against one unit
// alone in the same run; `alone` keeps that one unit's run for the next call.
void allUnitsAtOnce(int count, FlashRun &alone)
{
    const QString label = QString("talvo-flash --all --install, %1 paced units (S, L, S, L...)").arg(count);
    if (alone.wallMs <= 0) {
        SimProcess sim({"--paced", "--family", "S"});
        if (sim.port().isEmpty()) {
            addRow(label, "talvo-sim did not start");
            return;
        }
        alone = flash({"--install", "--port", sim.port()});
        if (alone.ok) {
            addRow("talvo-flash --install, one paced unit alone (S)", seconds(alone.wallMs));
            addRow("talvo-flash, one unit alone: CPU time / wall time",
                   QString("%1 %").arg(alone.cpuMs / alone.wallMs * 100.0, 0, 'f', 2),
                   QString("%1 ms CPU in %2").arg(alone.cpuMs, 0, 'f', 0).arg(seconds(alone.wallMs)));
        }
    }
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList arguments{"--all", "--install"};
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--paced", "--family", i % 2 ? "L" : "S"}));
        if (sims.back()->port().isEmpty()) {
            addRow(label, "talvo-sim did not start");
            return;
        }
        arguments << "--port" << sims.back()->port();
    }
    const FlashRun all = flash(arguments);
    sims.clear();
    if (!alone.ok || !all.ok) {
        addRow(label, alone.ok ? "failed" : "one unit alone failed");
        return;
    }
    addRow(label, seconds(all.wallMs), seconds(alone.wallMs) + " one unit alone",
           QString::number(all.wallMs / alone.wallMs, 'f', 3));
    addRow(QString("talvo-flash --all, %1 units: CPU time per unit / wall time").arg(count),
           QString("%1 %").arg(all.cpuMs / count / all.wallMs * 100.0, 0, 'f', 2),
           QString("%1 ms CPU, parent and %2 runs, in %3")
               .arg(all.cpuMs, 0, 'f', 0)
               .arg(count)
               .arg(seconds(all.wallMs)));
}

// --------------------------------------------------------------------------------------------
// The program itself

// Starts TalvoUpdater offscreen in a temporary folder; the scene graph's first "Loading backend"
// line marks the window being shown. Resident memory is read right after it.
void startUp()
{
    QTemporaryDir folder;
    const QString app = QString::fromUtf8(TALVO_APP_PATH);
    if (app.isEmpty() || !folder.isValid() || !QFile::exists(app)) {
        addRow("start to window shown", "TalvoUpdater not built");
        return;
    }
    std::vector<double> startTimes;
    std::vector<double> rssKb;
    for (int run = 0; run < 5; ++run) {
        TestProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("QT_LOGGING_RULES", "qt.scenegraph.general=true");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(app, QStringList());
        if (!process.waitForLine("Loading backend software", 20000).isEmpty()) {
            startTimes.push_back(timer.nsecsElapsed() / 1e6);
            QFile status(QString("/proc/%1/status").arg(process.processId()));
            if (status.open(QIODevice::ReadOnly)) {
                for (const QByteArray &line : status.readAll().split('\n')) {
                    if (line.startsWith("VmRSS:"))
                        rssKb.push_back(line.mid(6).trimmed().split(' ').value(0).toDouble());
                }
            }
        }
        process.stop(5000);
    }
    if (startTimes.empty()) {
        addRow("start to window shown", "window not seen");
        return;
    }
    addRow(QString("TalvoUpdater start to window shown, median of %1").arg(startTimes.size()),
           ms(percentile(startTimes, 0.5), 0), "offscreen, software scene graph");
    addRow("TalvoUpdater resident memory with the window shown",
           QString("%1 MiB").arg(percentile(rssKb, 0.5) / 1024, 0, 'f', 1), "VmRSS");
}

void printTable()
{
    int widths[4] = {0, 0, 0, 0};
    const Row header{"measured", "value", "reference", "value / reference"};
    std::vector<Row> all{header};
    all.insert(all.end(), rows.begin(), rows.end());
    for (const Row &row : all) {
        widths[0] = std::max(widths[0], int(row.what.size()));
        widths[1] = std::max(widths[1], int(row.measured.size()));
        widths[2] = std::max(widths[2], int(row.reference.size()));
        widths[3] = std::max(widths[3], int(row.ratio.size()));
    }
    auto line = [&](const Row &row) {
        std::printf("| %s | %s | %s | %s |\n", qPrintable(row.what.leftJustified(widths[0])),
                    qPrintable(row.measured.rightJustified(widths[1])),
                    qPrintable(row.reference.leftJustified(widths[2])),
                    qPrintable(row.ratio.rightJustified(widths[3])));
    };
    line(header);
    std::printf("|%s|%s|%s|%s|\n", qPrintable(QString(widths[0] + 2, '-')),
                qPrintable(QString(widths[1] + 2, '-')), qPrintable(QString(widths[2] + 2, '-')),
                qPrintable(QString(widths[3] + 2, '-')));
    for (const Row &row : rows)
        line(row);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QuietLog quiet(LogCapture::PassOn::Nothing);
    PortEnumerator::setSystemPortsIncluded(false);
    // Only the by-length minimum of the S image's fast installation, in milliseconds: the figures
    // of the Windows program under wine are compared with it.
    if (app.arguments().contains("--minimum-fast")) {
        int blocks = 0;
        QTextStream(stdout) << QString::number(installationMinimumMs(":/fmw/s/image.txt", &blocks, true), 'f',
                                               1)
                            << '\n';
        return 0;
    }
    if (!app.arguments().contains("--no-install")) {
        const double plainMs = installation("S", ":/fmw/s/image.txt");
        installation("L", ":/fmw/l/image.txt");
        installation("S", ":/fmw/s/image.txt", InstallMode::Verify);
        installation("S", ":/fmw/s/image.txt", InstallMode::Restore);
        const double fastMs = installation("S", ":/fmw/s/image.txt", InstallMode::Fast);
        installation("S", ":/fmw/s/image.txt", InstallMode::Window);
        if (plainMs > 0 && fastMs > 0)
            addRow("S image: installation / --fast installation", seconds(plainMs),
                   seconds(fastMs) + " --fast", QString::number(plainMs / fastMs, 'f', 2));
        FlashRun alone;
        allUnitsAtOnce(4, alone);
        allUnitsAtOnce(16, alone);
    }
    readByteTimeout();
    handshakeRoundTrip();
    searchTime();
    startUp();
    printTable();
    return 0;
}
