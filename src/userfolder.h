#pragma once

#include <QString>

// The per-user application-data folder of the package, also for programs whose own application
// name differs (talvo-flash): ~/.local/share/Talvo/TalvoUpdater on Linux,
// %LOCALAPPDATA%\Talvo\TalvoUpdater on Windows. For the wizard, whose organisation and application
// names are these two, it is QStandardPaths::AppLocalDataLocation.
namespace UserFolder {

const char *const ORGANIZATION = "Talvo";
const char *const APPLICATION = "TalvoUpdater";

QString path();

} // namespace UserFolder
