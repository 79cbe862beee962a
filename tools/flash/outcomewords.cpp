#include "outcomewords.h"

#include "exitcode.h"

namespace OutcomeWords {

Ending endingOf(const InstallOutcome &outcome, bool ok, bool stopping)
{
    if (outcome.failure == InstallOutcome::Failure::CannotVerify)
        return Ending::CannotVerify;
    if (outcome.failure == InstallOutcome::Failure::VerifyUnanswered)
        return Ending::VerifyUnanswered;
    if (ok)
        return Ending::Succeeded;
    // Refused before the first frame: the unit keeps what it had, nothing to restore.
    if (outcome.failure == InstallOutcome::Failure::Image)
        return Ending::ImageRefused;
    // The installer saw the stop, or the run was stopped before the installation began.
    if (outcome.failure == InstallOutcome::Failure::Stopped || stopping)
        return Ending::Stopped;
    if (outcome.failure == InstallOutcome::Failure::VerifyMismatch)
        return Ending::VerifyMismatch;
    return Ending::Failed;
}

QString reason(Ending ending, Action action)
{
    switch (ending) {
    case Ending::Succeeded:
        return action == Action::Restore ? QStringLiteral("restored") : QStringLiteral("installed");
    case Ending::CannotVerify:
        return QStringLiteral("cannot-verify");
    case Ending::VerifyUnanswered:
        return QStringLiteral("verify-unanswered");
    case Ending::ImageRefused:
        return QStringLiteral("image");
    case Ending::Stopped:
        return QStringLiteral("stopped");
    case Ending::VerifyMismatch:
        return QStringLiteral("verify-failed");
    case Ending::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QString noun(Action action)
{
    return action == Action::Restore ? QStringLiteral("Restore") : QStringLiteral("Update");
}

QString actionName(Action action)
{
    switch (action) {
    case Action::List:
        return QStringLiteral("list");
    case Action::Restore:
        return QStringLiteral("recover");
    case Action::Install:
        return QStringLiteral("install");
    case Action::Probe:
        break;
    }
    return QStringLiteral("probe");
}

QString verified(int exitCode, bool verifiedOk)
{
    if (exitCode == EXIT_UNVERIFIED)
        return QStringLiteral("cannot");
    return verifiedOk ? QStringLiteral("yes") : QStringLiteral("no");
}

} // namespace OutcomeWords
