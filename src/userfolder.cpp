#include "userfolder.h"

#include <QDir>
#include <QStandardPaths>

namespace UserFolder {

namespace {

// The folder below which the package's folder lies, or empty with the reason.
QString genericDataFolder(QString *why)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Qt takes an unset HOME for "/" and a relative XDG_DATA_HOME as it is, which would put the
    // user's files at the root of the file system or wherever the program was started. The XDG
    // rules ignore a relative XDG_DATA_HOME.
    const bool testMode = QStandardPaths::isTestModeEnabled();
    if (testMode || !QDir::isAbsolutePath(qEnvironmentVariable("XDG_DATA_HOME"))) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home)) {
            *why = home.isEmpty() ? QStringLiteral("HOME is not set")
                                  : QStringLiteral("HOME is not an absolute path");
            return QString();
        }
        if (!testMode)
            return QDir::cleanPath(home + QStringLiteral("/.local/share"));
    }
#endif
    const QString generic = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (generic.isEmpty())
        *why = QStringLiteral("the system names no folder for application data");
    return generic;
}

} // namespace

QString path()
{
    // AppLocalDataLocation is GenericDataLocation followed by organisation and application.
    QString why;
    const QString generic = genericDataFolder(&why);
    if (generic.isEmpty())
        return QString();
    return generic + QLatin1Char('/') + QLatin1String(ORGANIZATION) + QLatin1Char('/') +
           QLatin1String(APPLICATION);
}

QString whyNone()
{
    QString why;
    genericDataFolder(&why);
    return why;
}

} // namespace UserFolder
