#include "userfolder.h"

#include <QStandardPaths>

namespace UserFolder {

QString path()
{
    // AppLocalDataLocation is GenericDataLocation followed by organisation and application.
    const QString generic = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (generic.isEmpty())
        return QString();
    return generic + QLatin1Char('/') + QLatin1String(ORGANIZATION) + QLatin1Char('/') +
           QLatin1String(APPLICATION);
}

} // namespace UserFolder
