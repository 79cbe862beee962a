#pragma once

#include "installoutcome.h"
#include "options.h"

#include <QString>

// The words of how a run ended, one mapping for the installation, the restore, the result event
// and the station record.
namespace OutcomeWords {

// How an installation or restore ended, as the flasher tells it.
enum class Ending
{
    Succeeded,
    CannotVerify,     // written whole; the loader knows no CRC command
    VerifyUnanswered, // written whole; the CRC check got no usable answer
    ImageRefused,     // the image was refused before the first frame
    Stopped,          // by the user
    VerifyMismatch,   // the memory of the unit differs from the image
    Failed,
};

// `ok`: the installer's result; `stopping`: the user asked to stop, also before it began.
Ending endingOf(const InstallOutcome &outcome, bool ok, bool stopping);
// The reason of the result event and the record: "installed", "restored", "verify-failed", ...
QString reason(Ending ending, Action action);
// What was written, as the lines say it: "Update" or "Restore".
QString noun(Action action);
// The action as the record names it: "probe", "install", "recover", "list".
QString actionName(Action action);
// The record's verification: "cannot", "yes" or "no".
QString verified(int exitCode, bool verifiedOk);

} // namespace OutcomeWords
