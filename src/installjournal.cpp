#include "installjournal.h"

#include "targetinfo.h"
#include "userfolder.h"

#include <QDir>
#include <QSettings>

namespace InstallJournal {

namespace {

// Serial numbers are the group names; QSettings escapes what a key cannot hold.
const QString KEY_MODEL = QStringLiteral("model");
const QString KEY_FAMILY = QStringLiteral("family");
const QString KEY_FROM = QStringLiteral("versionFrom");
const QString KEY_TO = QStringLiteral("versionTo");

} // namespace

QString path()
{
    const QString folder = UserFolder::path();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/journal.ini");
}

bool write(const Entry &entry, QString *problem)
{
    Q_UNUSED(problem)
    const QString file = path();
    if (entry.serialNumber.isEmpty() || file.isEmpty() || !QDir().mkpath(UserFolder::path()))
        return false;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(entry.serialNumber);
    settings.setValue(KEY_MODEL, entry.model);
    settings.setValue(KEY_FAMILY, entry.family);
    settings.setValue(KEY_FROM, entry.versionFrom);
    settings.setValue(KEY_TO, entry.versionTo);
    settings.endGroup();
    // The entry must be on disk before the erase that it is about.
    settings.sync();
    return settings.status() == QSettings::NoError;
}

Entry read(const QString &serialNumber)
{
    Entry entry;
    const QString file = path();
    if (serialNumber.isEmpty() || file.isEmpty())
        return entry;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(serialNumber);
    entry.serialNumber = serialNumber;
    entry.model = settings.value(KEY_MODEL).toString();
    // The file is the user's: anything but a family this program carries counts as not noted.
    bool number = false;
    const int family = settings.value(KEY_FAMILY).toString().toInt(&number);
    entry.family = number && (family == TargetInfo::TARGET_TALVO_S || family == TargetInfo::TARGET_TALVO_L)
                       ? family
                       : TargetInfo::TARGET_UNKNOWN;
    entry.versionFrom = settings.value(KEY_FROM).toString();
    entry.versionTo = settings.value(KEY_TO).toString();
    return entry;
}

void clear(const QString &serialNumber)
{
    const QString file = path();
    if (serialNumber.isEmpty() || file.isEmpty())
        return;
    QSettings settings(file, QSettings::IniFormat);
    settings.remove(serialNumber);
}

} // namespace InstallJournal
