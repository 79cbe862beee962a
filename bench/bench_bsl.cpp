// Serial transport and installation figures against the simulated unit:
// - readByte's time-out on a silent line (median, 99th percentile, maximum) and the CPU it costs;
// - the programming-mode handshake's round trip against a unit paced like a 115200-baud line;
// - a full installation of the S image against the paced unit, compared with the protocol's own
//   minimum for that line, and the installing thread's CPU time as a share of its wall time.
// Usage: bench_bsl [--no-install]

#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "BSL_Interface.h"
#include "PortInfo.h"
#include "TextFileIO.h"
#include "simulatedunit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

PortInfo portOf(const SimulatedUnit &unit)
{
    PortInfo info;
    info.portName = unit.portPath().mid(5);
    info.systemLocation = unit.portPath();
    return info;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

void quietLog(QtMsgType, const QMessageLogContext &, const QString &) {}

void readByteTimeout()
{
    SimulatedUnit unit;
    unit.setSilent(true);
    if (!unit.start()) {
        std::printf("simulated unit: %s\n", qPrintable(unit.errorString()));
        return;
    }
    BSL_IO_UART uart;
    const std::wstring path = unit.portPath().toStdWString();
    if (!uart.open(path.c_str(), UART_BAUDRATE, UART_PARITY))
        return;
    const int count = 250;
    std::vector<double> ms;
    const double cpuBefore = threadCpuMs();
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        uart.readByte();
        ms.push_back(one.nsecsElapsed() / 1e6);
    }
    const double wallMs = total.nsecsElapsed() / 1e6;
    const double cpuMs = threadCpuMs() - cpuBefore;
    std::printf("readByte time-out, %d reads on a silent line: median %.3f ms, p99 %.3f ms, min %.3f ms, "
                "max %.3f ms (contract: 40 ms)\n",
                count, percentile(ms, 0.5), percentile(ms, 0.99), *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()));
    std::printf("idle waiting: %.2f ms CPU per second of waiting\n", cpuMs / wallMs * 1000.0);
}

void handshakeRoundTrip()
{
    SimulatedUnit unit;
    unit.setPaced(true);
    if (!unit.start())
        return;
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        BSL_Interface bsl(BSL_BUFFER_SIZE);
        if (!bsl.openPort(portOf(unit)))
            return;
        unit.setMode(SimulatedUnit::Mode::Application);
        QString version;
        QElapsedTimer timer;
        timer.start();
        const bool ok = bsl.rxProgrammingMode(version);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        if (!ok) {
            std::printf("handshake failed\n");
            return;
        }
        bsl.closePort();
    }
    const int replyBytes = 3 + int(unit.handshake().versionText.size()) + 1;
    std::printf("handshake against the paced unit (%d-byte reply), 20 runs: median %.1f ms, max %.1f ms "
                "(minimum: 40 ms drain + 3 + %d bytes at 86.8 us + 40 ms quiet = %.1f ms)\n",
                replyBytes, percentile(ms, 0.5), *std::max_element(ms.begin(), ms.end()), replyBytes,
                80.0 + (3 + replyBytes) * 0.0868);
}

void pacedInstallation()
{
    const QString image = ":/fmw/s/image.txt";
    const unsigned int size = 124670;
    SimulatedUnit unit;
    unit.setPaced(true);
    if (!unit.start())
        return;
    const SimulatedUnit::Timing timing = unit.timing();
    const double byteMs = timing.byteTimeNs / 1e6;

    // The protocol's own minimum on this line: every byte on the wire, the modelled work, and the
    // 40 ms of quiet that ends each reply.
    double minimumMs = 0;
    const double perCommand = 1 + 7; // acknowledgement and message reply
    minimumMs += 2 * ((5 + 33 + perCommand) * byteMs + timing.commandUs / 1e3 + TIMEOUT_MS); // password twice
    minimumMs += timing.massEraseUs / 1e3; // the refused password erases
    minimumMs += (5 + 1 + perCommand) * byteMs + timing.massEraseUs / 1e3 + TIMEOUT_MS; // mass erase
    int blocks = 0;
    if (openTI_TextForRead(image.toLocal8Bit().constData()) == OPERATION_SUCCESSFUL) {
        while (moreDataToRead()) {
            QByteArray block;
            readTI_TextFile(BSL_BUFFER_SIZE, block);
            if (block.isEmpty() && !moreDataToRead())
                break;
            minimumMs +=
                (5 + 4 + block.size() + perCommand) * byteMs + timing.blockWriteUs / 1e3 + TIMEOUT_MS;
            ++blocks;
        }
        closeTI_Text();
    }

    BSL_Interface bsl(BSL_BUFFER_SIZE);
    if (!bsl.openPort(portOf(unit)))
        return;
    QString version;
    if (!bsl.rxProgrammingMode(version))
        return;
    const double cpuBefore = threadCpuMs();
    QElapsedTimer timer;
    timer.start();
    bsl.installFirmware(image, size);
    const double wallMs = timer.nsecsElapsed() / 1e6;
    const double cpuMs = threadCpuMs() - cpuBefore;
    std::printf("S image against the paced unit: %u %%, %d blocks in %.2f s; protocol minimum %.2f s; "
                "measured / minimum = %.3f; installing thread CPU %.0f ms = %.2f %% of wall time\n",
                bsl.getPercent(), blocks, wallMs / 1e3, minimumMs / 1e3, wallMs / minimumMs, cpuMs,
                cpuMs / wallMs * 100.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietLog);
    readByteTimeout();
    handshakeRoundTrip();
    if (!app.arguments().contains("--no-install"))
        pacedInstallation();
    return 0;
}
