// The flasher's actions over the controller, one function each: probe (and install), restore; the
// list is in portreport.cpp. How an installation or restore ended is told in outcomewords' words.
#include "flashsession.h"

#include "families.h"
#include "interruptguard.h"
#include "porttexts.h"
#include "versionorder.h"

namespace {

const char *const VERIFY_FAILED = "Verify failed: the memory of the unit does not match %1";
const char *const IMAGE_DAMAGED = "the carried firmware is damaged (%1): nothing was written to the unit";

} // namespace

using OutcomeWords::Ending;

int FlashSession::probe()
{
    _driver->search(true);
    const bool found = waitForResult();
    reportUnits();
    if (!found)
        return noUsableUnit();
    const QString carried = _driver->versionNew();
    const VersionOrder::Order order = VersionOrder::compare(_driver->versionCurrent(), carried);
    QString update = order == VersionOrder::Order::Older ? QStringLiteral("yes") : QStringLiteral("no");
    if (!carried.isEmpty() && order == VersionOrder::Order::Incomparable)
        update += QStringLiteral(" (the installed version cannot be compared with it)");
    _report.result(QStringLiteral("Model:             %1").arg(Report::printable(_driver->modelName())));
    _report.result(QStringLiteral("Installed version: %1").arg(Report::printable(_driver->versionCurrent())));
    if (!_imagePath.isEmpty()) {
        _report.result(QStringLiteral("Version check:     skipped (the image given is installed whatever "
                                      "the unit's version, and verified)"));
        return install();
    }
    _report.result(QStringLiteral("Carried version:   %1")
                       .arg(carried.isEmpty() ? QStringLiteral("none for this model") : carried));
    _report.result(
        QStringLiteral("Update available:  %1").arg(carried.isEmpty() ? QStringLiteral("no") : update));
    return _options.action == Action::Install ? install()
                                              : finish(EXIT_OK, QStringLiteral("found"), QString());
}

int FlashSession::installRefusal()
{
    const QString carried = _driver->versionNew();
    if (!_imagePath.isEmpty()) {
        const auto unitFamily = static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType());
        if (unitFamily == _imageFamily)
            return EXIT_OK;
        return fail(EXIT_FAILED, QStringLiteral("refused"),
                    QStringLiteral("the unit is a %1 (family %2), the image is for family %3: nothing "
                                   "was written to the unit")
                        .arg(Report::printable(_driver->modelName()),
                             familyLetter(unitFamily).isEmpty() ? QStringLiteral("unknown")
                                                                : familyLetter(unitFamily),
                             familyLetter(_imageFamily)));
    }
    if (carried.isEmpty())
        return fail(
            EXIT_FAILED, QStringLiteral("no-firmware"),
            QStringLiteral("no firmware for the model \"%1\"").arg(Report::printable(_driver->modelName())));
    if (_options.downgrade || !_driver->isDowngrade())
        return EXIT_OK;
    // The window's rule: a newer version needs consent, and so does one that cannot be compared.
    return fail(
        EXIT_FAILED, QStringLiteral("refused"),
        QStringLiteral("the installed version %1 is %2 the carried version %3; give "
                       "--downgrade to install %3 anyway")
            .arg(Report::printable(_driver->versionCurrent()),
                 VersionOrder::compare(_driver->versionCurrent(), carried) == VersionOrder::Order::Newer
                     ? QStringLiteral("newer than")
                     : QStringLiteral("not comparable with"),
                 carried));
}

int FlashSession::install()
{
    const int refused = installRefusal();
    if (refused != EXIT_OK)
        return refused;
    // Fast replies and an image given always verify.
    const bool given = !_imagePath.isEmpty();
    const bool verify = _options.verify || _options.fast || given;
    if (_options.verify || given)
        _driver->setVerifyAfterWrite(true);
    if (_options.fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _writing = true;
    _driver->install();
    const bool ok = awaitInstallation();
    const Ending ending = OutcomeWords::endingOf(_driver->outcome(), ok, _stopping);
    const int status = sharedEnding(ending, ok, verify);
    return status >= 0 ? status : installFailed(ending);
}

int FlashSession::installFailed(Ending ending)
{
    const QString reason = OutcomeWords::reason(ending, _options.action);
    const bool mismatch = ending == Ending::VerifyMismatch;
    const auto family = static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType());
    if (mismatch)
        _report.error(QStringLiteral("Error: ") + QString::fromLatin1(VERIFY_FAILED).arg(imageName()));
    if (_driver->outcome().writtenWhole) {
        // Every block was confirmed, the reset vector among them: the unit starts what it holds.
        _report.error(QStringLiteral("Error: Update failed: the whole image was written, its reset vector "
                                     "too, so the unit starts what its memory holds, %1. Install it "
                                     "again; should the unit then be found in its loader, restore it with")
                          .arg(mismatch ? QStringLiteral("and that differs from the image")
                                        : QStringLiteral("which was not checked")));
        _report.error(QStringLiteral("  ") + restoreCommand(family, portOfUnit()));
        return finish(EXIT_FAILED, reason,
                      mismatch ? QStringLiteral("Update failed: the memory of the unit differs from the "
                                                "image written; install it again")
                               : QStringLiteral("Update failed after the whole image was written; install "
                                                "it again"));
    }
    if (!_driver->erased())
        return fail(EXIT_FAILED, reason, QStringLiteral("Update failed before the unit was erased"));
    // The loader erased the unit: only a restore brings its firmware back.
    const QString command = restoreCommand(family, portOfUnit(), _serialNumber);
    _report.error(QStringLiteral("Error: Update failed after the unit was erased: it has no firmware now "
                                 "and stays in its loader. Restore it with"));
    _report.error(QStringLiteral("  ") + command);
    return finish(EXIT_FAILED, reason,
                  QStringLiteral("Update failed: the unit has no firmware now; restore it with ") + command);
}

int FlashSession::restore()
{
    _familyFromJournal = _restoreFamily == TargetInfo::TARGET_UNKNOWN;
    if (!_familyFromJournal) {
        if (!Families::of(_restoreFamily))
            return fail(EXIT_FAILED, QStringLiteral("no-firmware"),
                        QStringLiteral("no firmware for the family %1").arg(familyLetter(_restoreFamily)));
        showFamily(_restoreFamily);
    }
    if (_options.fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _writing = true;
    _driver->restoreUnit(_restoreFamily, _port);
    const bool ok = awaitInstallation();
    reportUnits();
    const QString port = portOfUnit();
    const int unnoted = restoreWithoutFamily(port);
    if (unnoted != EXIT_OK)
        return unnoted;
    const Ending ending = OutcomeWords::endingOf(_driver->outcome(), ok, _stopping);
    const int status = sharedEnding(ending, ok, true);
    return status >= 0 ? status : restoreFailed(ending, port);
}

int FlashSession::restoreWithoutFamily(const QString &port)
{
    if (!_familyFromJournal || _restoreFamily != TargetInfo::TARGET_UNKNOWN || port.isEmpty())
        return EXIT_OK;
    const QStringList sharing = unitProbe().serialNumberSharedWith;
    const QString notNoted = sharing.isEmpty()
                                 ? QStringLiteral("is not noted in the journal (by its USB serial number)")
                                 : QStringLiteral("is not known to the journal: its USB serial number %1 is "
                                                  "shown by %2 too and identifies no unit")
                                       .arg(unitProbe().serialNumber, sharing.join(QStringLiteral(", ")));
    return fail(
        EXIT_USAGE, QStringLiteral("usage"),
        QStringLiteral("the unit in its loader on %1 %2: --recover needs --family S or L; a unit in its "
                       "loader cannot tell its model, and the firmware of the wrong family must not be "
                       "written on a guess. Nothing was written.")
            .arg(Report::printable(port), Report::printable(notNoted)));
}

int FlashSession::restoreFailed(Ending ending, const QString &port)
{
    if (port.isEmpty()) {
        for (const ProbeResult &probed : _driver->probedPorts()) {
            if (PortTexts::unusable(probed.reason))
                return noUsableUnit();
        }
        if (_port.isEmpty())
            return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                        QStringLiteral("no Talvo unit in its loader found (is it connected and switched "
                                       "on? A unit that runs its firmware is updated with --install)"));
        return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                    QStringLiteral("no Talvo unit in its loader answers on %1 (a unit that runs its "
                                   "firmware is updated with --install)")
                        .arg(Report::printable(_port)));
    }
    const bool mismatch = ending == Ending::VerifyMismatch;
    if (mismatch)
        _report.error(QStringLiteral("Error: ") + QString::fromLatin1(VERIFY_FAILED).arg(imageName()));
    _report.error(
        _driver->outcome().writtenWhole
            ? QStringLiteral("Error: Restore failed: the whole image was written, but %1. Try again with")
                  .arg(mismatch ? QStringLiteral("the memory of the unit differs from it")
                                : QStringLiteral("it was not checked"))
            : QStringLiteral("Error: Restore failed; the unit stays in its loader. Try again with"));
    _report.error(QStringLiteral("  ") + restoreCommand(_restoreFamily, port, _serialNumber));
    return finish(EXIT_FAILED, OutcomeWords::reason(ending, _options.action),
                  QStringLiteral("Restore failed"));
}

int FlashSession::sharedEnding(Ending ending, bool ok, bool verified)
{
    if (ending == Ending::CannotVerify || ending == Ending::VerifyUnanswered)
        return unverified(ending);
    if (_driver->outcome().phase == InstallOutcome::Phase::Verifying)
        _report.event(QStringLiteral("verify"), {{QStringLiteral("ok"), Report::json(ok)}});
    const QString reason = OutcomeWords::reason(ending, _options.action);
    switch (ending) {
    case Ending::Succeeded: {
        _verifiedOk = verified;
        if (verified)
            _report.result(QStringLiteral("Verified"));
        const QString message = OutcomeWords::noun(_options.action) + QStringLiteral(" successful!");
        _report.result(message);
        return finish(EXIT_OK, reason, message);
    }
    case Ending::ImageRefused:
        // Refused before the first frame: the unit keeps its firmware, and the same image would fail
        // the same way.
        _writing = false;
        return fail(EXIT_FAILED, reason,
                    QString::fromLatin1(IMAGE_DAMAGED).arg(_driver->outcome().imageProblem));
    case Ending::Stopped:
        return finish(EXIT_STOPPED, reason, QStringLiteral("Stopped by the user"));
    default:
        return -1;
    }
}

int FlashSession::unverified(Ending ending)
{
    _report.event(QStringLiteral("verify"), {{QStringLiteral("ok"), QStringLiteral("null")}});
    _report.error(ending == Ending::VerifyUnanswered
                      ? QStringLiteral("Warning: the CRC check got no usable answer from the loader: "
                                       "it confirmed every block of the image as written, but the "
                                       "memory could not be checked against the image")
                      : QStringLiteral("Warning: this loader cannot verify (it does not know the CRC "
                                       "command): the loader confirmed every block as written, but the "
                                       "memory was not checked against the image"));
    const QString message = OutcomeWords::noun(_options.action) + QStringLiteral(" written, not verified");
    _report.result(message);
    return finish(EXIT_UNVERIFIED, OutcomeWords::reason(ending, _options.action), message);
}

QString FlashSession::imageName() const
{
    return _imagePath.isEmpty() ? QStringLiteral("the carried firmware")
                                : QStringLiteral("the image %1").arg(_imagePath);
}
