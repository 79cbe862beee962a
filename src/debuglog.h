#pragma once

#include <QString>

// The debug log (qDebug and the framework's messages) of the wizard and the flasher: on standard
// error as QT_MESSAGE_PATTERN shapes it (debug lines only when verbose), and into files, one line
// per message with its time and category ("2026-12-08T14:00:00.123 talvo.loader: text"): this
// run's own file in the per-user log folder and, on request, a file the user names. Messages come
// from every thread; QT_LOGGING_RULES keeps a category's lines out of both. A file that cannot be
// written loses its lines; the program goes on.
namespace DebugLog {

// Files of one program kept in the log folder, this run's included.
const int KEPT_RUN_LOGS = 10;

// Installs the message handler; before the application object, so that nothing is missed.
void install();
void setVerbose(bool verbose);
// Appends from now on to `path` as well; false, with the reason in `error`, when it cannot. Only a
// regular file (or a link to one) is opened: a FIFO, a terminal, a device, a socket or a directory
// is refused before anything could wait on it or carry the lines elsewhere.
bool openFile(const QString &path, QString *error);
// Whether `path` is the file that standard output writes to; `appends` tells whether standard
// output writes at the file's end (opened for appending) rather than over what others wrote.
bool isStandardOutput(const QString &path, bool *appends);
// Why a line could not be written to the file of openFile (a full disk, /dev/full): the system's
// reason for the first line lost, or empty while every line was written.
QString fileError();
// The per-user log folder, shared by all programs of the package.
QString folder();
// Starts this run's file in folder(), named by the program and the time of the call
// ("talvo-flash-2026-12-08T13-10-00.log", "_2" added when a run of the same second has that
// name), and removes the program's oldest files beyond KEPT_RUN_LOGS (by the time they were last
// written). The file's path, or empty when it cannot be written; without a per-user folder a
// warning says that nothing is kept.
QString openRunLog(const QString &program);

} // namespace DebugLog
