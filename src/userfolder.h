#pragma once

#include <QString>

// The per-user application-data folder of the package, also for programs whose own application
// name differs (talvo-flash): ~/.local/share/Talvo/TalvoUpdater on Linux,
// %LOCALAPPDATA%\Talvo\TalvoUpdater on Windows. For the wizard, whose organisation and application
// names are these two, it is QStandardPaths::AppLocalDataLocation.
namespace UserFolder {

const char *const ORGANIZATION = "Talvo";
const char *const APPLICATION = "TalvoUpdater";

// Empty when the system names no folder for the user (HOME unset): nothing is then kept.
QString path();
// Why path() is empty ("HOME is not set"); empty when there is a per-user folder.
QString whyNone();

} // namespace UserFolder
