// The ports' side of a flasher run: what it lists and reports of each probed port, why no port
// gave a usable unit, and the words and commands that name a port or the unit on it.
#include "flashsession.h"

#include "families.h"
#include "installjournal.h"
#include "portenumerator.h"
#include "porttexts.h"
#include "versionorder.h"

#include <QRegularExpression>

namespace {

QString orNull(const QString &text)
{
    return text.isEmpty() ? QString() : text;
}

// `text` as one word for a POSIX shell: as it is when nothing in it means anything to the shell,
// else between single quotes.
QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._,:/@%+=-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

} // namespace

int FlashSession::list()
{
    _driver->list();
    const bool found = waitForResult();
    reportUnits();
    const QList<ProbeResult> probed = _driver->probedPorts();
    for (const ProbeResult &port : probed)
        _report.result(listLine(port));
    if (found)
        return finish(EXIT_OK, QStringLiteral("found"), QString());
    if (probed.isEmpty())
        return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                    QStringLiteral("no Talvo unit found (is it connected and switched on?)"));
    for (const ProbeResult &port : probed) {
        if (PortTexts::unusable(port.reason))
            return finish(EXIT_UNUSABLE, PortTexts::name(port.reason), listLine(port));
    }
    return finish(EXIT_NO_UNIT, QStringLiteral("no-unit"), listLine(probed.first()));
}

int FlashSession::noUsableUnit()
{
    const QList<ProbeResult> probed = _driver->probedPorts();
    if (probed.isEmpty()) {
        if (_port.isEmpty())
            return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                        QStringLiteral("no Talvo unit found (is it connected and switched on?)"));
        return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                    QStringLiteral("no Talvo unit answers on %1").arg(Report::printable(_port)));
    }

    int status = EXIT_NO_UNIT;
    QString reason = QStringLiteral("no-unit");
    QString message;
    bool familyToChoose = false; // a unit in its loader whose family the journal does not note
    for (const ProbeResult &port : probed) {
        const QString path = portOf(port);
        QString text = PortTexts::problem(port, path);
        _report.error(QStringLiteral("Error: ") + text);
        if (port.reason == UpdateWorker::PortInLoader) {
            const TargetInfo::eTARGET_TYPE noted = notedFamilyOf(port);
            const QString command = restoreCommand(noted, path, _serialNumber);
            _report.error(QStringLiteral("  ") + command);
            text += QLatin1Char(' ') + command;
            familyToChoose = familyToChoose || noted == TargetInfo::TARGET_UNKNOWN;
        }
#ifdef Q_OS_LINUX
        if (port.reason == UpdateWorker::PortNoAccess) {
            _report.error(QStringLiteral("Give your user read and write access: join the dialout group with\n"
                                         "  sudo usermod -aG dialout $USER\n"
                                         "and log out and in again; or install the udev rule "
                                         "tools/linux/60-talvo.rules of the source tree with\n"
                                         "  sudo cp tools/linux/60-talvo.rules /etc/udev/rules.d/ && "
                                         "sudo udevadm control --reload && sudo udevadm trigger"));
        }
#endif
        if (message.isEmpty())
            message = text;
        if (status == EXIT_NO_UNIT && PortTexts::unusable(port.reason)) {
            status = EXIT_UNUSABLE;
            reason = PortTexts::name(port.reason);
            message = text;
        }
    }
    if (familyToChoose)
        _report.error(
            QStringLiteral("S or L: the family of the unit, the letter after its model number (Talvo "
                           "400 S, Talvo 800 L; a unit named without a letter is S). The wrong family "
                           "writes the wrong firmware."));
    return finish(status, reason, message);
}

void FlashSession::reportUnits()
{
    if (_report.format() != Report::Format::Json)
        return;
    for (const ProbeResult &probed : _driver->probedPorts()) {
        const bool found = probed.reason == UpdateWorker::PortFound;
        QString carried;
        if (found) {
            const Family *family = Families::ofModel(probed.model);
            carried = family ? family->version : QString();
        }
        const bool update = !carried.isEmpty() && VersionOrder::isUpdate(probed.version, carried);
        _report.event(QStringLiteral("unit"),
                      {{QStringLiteral("port"), Report::json(portOf(probed))},
                       {QStringLiteral("reason"), Report::json(PortTexts::name(probed.reason))},
                       {QStringLiteral("model"), Report::json(probed.model)},
                       {QStringLiteral("version"), Report::json(probed.version)},
                       {QStringLiteral("carried"), Report::json(carried.isEmpty() ? QString() : carried)},
                       {QStringLiteral("update"), found ? Report::json(update) : QStringLiteral("null")},
                       {QStringLiteral("detail"), Report::json(PortTexts::detail(probed))},
                       {QStringLiteral("serialNumber"), Report::json(orNull(probed.serialNumber))},
                       {QStringLiteral("usbLocation"), Report::json(orNull(probed.usbLocation))}});
    }
}

QString FlashSession::listLine(const ProbeResult &probed) const
{
    return PortTexts::listLine(probed, portOf(probed));
}

QString FlashSession::portOf(const ProbeResult &probed) const
{
    return _port.isEmpty() ? PortEnumerator::userPath(probed.port, probed.location) : _port;
}

QString FlashSession::restoreCommand(TargetInfo::eTARGET_TYPE family, const QString &port,
                                     const QString &serialNumber)
{
    // No shell reads "S-or-L" as anything but a word, and --family refuses it.
    const QString letter = family == TargetInfo::TARGET_UNKNOWN
                               ? Families::letters().join(QStringLiteral("-or-"))
                               : familyLetter(family);
    QString command = QStringLiteral("talvo-flash --recover --family ") + letter;
    // The unit as the user named it: a serial number stays when the unit comes back on another port.
    if (!serialNumber.isEmpty())
        command += QStringLiteral(" --serial ") + Report::printable(shellWord(serialNumber));
    else if (!port.isEmpty())
        command += QStringLiteral(" --port ") + Report::printable(port);
    return command;
}

TargetInfo::eTARGET_TYPE FlashSession::notedFamilyOf(const ProbeResult &probed)
{
    return static_cast<TargetInfo::eTARGET_TYPE>(InstallJournal::read(probed.serialNumber).family);
}

QString FlashSession::portOfUnit() const
{
    // The port of the unit found by the search, or the one on which a restore found the loader.
    const ProbeResult unit = _driver->unitPort();
    return unit.port.isEmpty() ? QString() : portOf(unit);
}
