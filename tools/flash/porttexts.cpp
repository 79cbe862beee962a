#include "porttexts.h"

#include "report.h"

#include <QStringList>

#include <iterator>

namespace {

// What the flasher says of a probed port, by UpdateWorker::PortReason: the reason's name in --json
// and in the result event, its --list line and its error line. %1 is the port; %2, where
// withDetail is set, the detail (for a port that was not understood: what it sent).
struct ReasonTexts
{
    const char *name;
    const char *listLine;
    const char *problem;
    bool withDetail;
};

const ReasonTexts REASON_TEXTS[] = {
    {"found", "%1: found %2, version %3", "%1 cannot be opened (%2)", true},
    {"silent", "%1: silent (nothing answered)", "no Talvo unit answers on %1 (is it switched on?)", false},
    {"not-understood", "%1: not understood (received %2)",
     "the device on %1 answered, but not as a Talvo unit: %2", true},
    {"in-loader", "%1: in its loader (firmware missing or incomplete; restore with --recover)",
     "a Talvo unit in its loader answers on %1: its firmware is missing or incomplete. Restore it with",
     false},
    {"no-access", "%1: no access (permission denied)", "no access to %1 (permission denied)", false},
    {"busy", "%1: busy (held by another program)",
     "%1 is held by another program (a terminal program, another flasher or the updater's window); close it "
     "and try again",
     false},
    {"missing", "%1: gone (unplugged before it could be opened)",
     "%1 went away before it could be opened (unplugged?)", false},
    {"open-failed", "%1: cannot be opened (%2)", "%1 cannot be opened (%2)", true},
};
static_assert(std::size(REASON_TEXTS) == UpdateWorker::PortOpenFailed + 1, "texts for every reason");

// A reason not known here reads as a failed open.
const ReasonTexts &textsFor(int reason)
{
    const bool known = reason >= 0 && reason < int(std::size(REASON_TEXTS));
    return REASON_TEXTS[known ? reason : int(UpdateWorker::PortOpenFailed)];
}

// What a port that was not understood sent, without the frame of a programming-mode reply.
QByteArray receivedText(const QByteArray &bytes)
{
    if (bytes.size() >= 4 && bytes.startsWith("\x7d\x7d\x01") && bytes.endsWith('\x7e'))
        return bytes.mid(3, bytes.size() - 4);
    return bytes;
}

// Between quotes, with every byte that is not printable ASCII as \xNN.
QString quoted(const QByteArray &bytes)
{
    QString text = QStringLiteral("\"");
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            text += QStringLiteral("\\") + QLatin1Char(c);
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text + QLatin1Char('"');
}

// What a port sent, as shown: at most this many bytes, then the count of all (a babbling port
// fills the probe's whole buffer).
const int SHOWN_BYTES = 80;

QString shownBytes(const QByteArray &bytes, bool inQuotes)
{
    const QByteArray shown = bytes.left(SHOWN_BYTES);
    QString text = inQuotes ? quoted(shown) : QString::fromUtf8(shown);
    if (bytes.size() > SHOWN_BYTES)
        text += QStringLiteral("... (%1 bytes in all)").arg(bytes.size());
    return text;
}

// A reason's text about a probed port, with its detail where the text shows one; what the port
// list and the unit tell is shown with its control characters escaped.
QString portText(const char *format, const ProbeResult &port, const QString &path)
{
    const QString text = QString::fromUtf8(format);
    if (!textsFor(port.reason).withDetail)
        return text.arg(Report::printable(path));
    const bool sentText = port.reason == UpdateWorker::PortNotUnderstood;
    return text.arg(Report::printable(path), sentText ? shownBytes(receivedText(port.received), true)
                                                      : Report::printable(port.openError));
}

} // namespace

namespace PortTexts {

QString name(UpdateWorker::PortReason reason)
{
    return QString::fromLatin1(textsFor(reason).name);
}

bool unusable(UpdateWorker::PortReason reason)
{
    return reason == UpdateWorker::PortNoAccess || reason == UpdateWorker::PortBusy ||
           reason == UpdateWorker::PortNotUnderstood || reason == UpdateWorker::PortInLoader ||
           reason == UpdateWorker::PortOpenFailed;
}

QString listLine(const ProbeResult &probe, const QString &path)
{
    const char *format = textsFor(probe.reason).listLine;
    const QString line =
        probe.reason == UpdateWorker::PortFound
            ? QString::fromUtf8(format).arg(Report::printable(path), Report::printable(probe.model),
                                            Report::printable(probe.version))
            : portText(format, probe, path);
    // Which unit it is, where the port tells: the serial number stays when the port name changes.
    QStringList identity;
    if (!probe.serialNumber.isEmpty())
        identity << QStringLiteral("USB serial number ") + Report::printable(probe.serialNumber);
    if (!probe.serialNumberSharedWith.isEmpty())
        identity.last() += QStringLiteral(" (shown by %1 too: it identifies no unit)")
                               .arg(Report::printable(probe.serialNumberSharedWith.join(QStringLiteral(", "))));
    if (!probe.usbLocation.isEmpty())
        identity << QStringLiteral("USB location ") + Report::printable(probe.usbLocation);
    return identity.isEmpty() ? line
                              : line + QStringLiteral(" [%1]").arg(identity.join(QStringLiteral(", ")));
}

QString problem(const ProbeResult &probe, const QString &path)
{
    return portText(textsFor(probe.reason).problem, probe, path);
}

QString detail(const ProbeResult &probe)
{
    if (probe.reason == UpdateWorker::PortNotUnderstood)
        return shownBytes(receivedText(probe.received), false);
    if (probe.reason == UpdateWorker::PortOpenFailed)
        return probe.openError;
    return QString();
}

} // namespace PortTexts
