#pragma once

#include <QString>

// The core's debug log (qDebug) as the flasher shows it: on standard error with --verbose, and
// appended to a file, one line per message with its time, with --log-file. Warnings of the
// framework always reach standard error. Messages come from every thread.
namespace DebugLog {

// Installs the message handler; before the application object, so that nothing is missed.
void install();
void setVerbose(bool verbose);
// Appends from now on to `path`; false, with the system's reason in `error`, when it cannot.
bool openFile(const QString &path, QString *error);

} // namespace DebugLog
