#pragma once

#include "report.h"
#include "targetinfo.h"

#include <QString>
#include <QStringList>

// What one run of talvo-flash does: one action over the controller.
enum class Action
{
    Probe,   // search the unit and report it
    Install, // --install: the carried firmware, or the --image file
    Restore, // --recover: bring back a unit left in its loader
    List,    // --list: tell what is on every port with the unit's identifiers
};

// The command line as one value, filled and checked by parseOptions(); nothing else reads it.
struct FlashOptions
{
    Action action = Action::Probe;
    bool all = false; // --all: one run of the program per unit
    bool downgrade = false;
    bool verify = false;
    bool fast = false; // replies taken by their length, and the image always verified
    bool verbose = false;
    Report::Format format = Report::Format::Text;
    QStringList ports; // device paths, as PortEnumerator::pathOfArgument() makes them of --port
    QStringList serialNumbers;
    // --family: the restore's or the image's family; TARGET_UNKNOWN for the one the journal notes.
    TargetInfo::eTARGET_TYPE family = TargetInfo::TARGET_UNKNOWN;
    QString image; // --image, empty for the carried firmware
    QString logFile;
    QString recordFile; // --report
    QString resultFile; // the run's result event, for the table of --all
};

namespace Options {

// Fills `options` from the arguments and checks every usage rule, the files given among them (the
// station record is made writable there). Returns -1 for a run to go on; else the exit status,
// the help, the version or the usage error written.
int parse(const QStringList &arguments, FlashOptions *options);
// Writes a usage error with the pointer to --help; EXIT_USAGE.
int usageError(const QString &message);

} // namespace Options
