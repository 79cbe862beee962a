#pragma once

#include <QString>

// What the program notes about a unit before it erases it, kept in the per-user folder until the
// installation succeeds: a unit left in its loader can then be restored with its own family's
// firmware, by the window or by talvo-flash, without asking which unit it is.
namespace InstallJournal {

struct Entry
{
    QString serialNumber; // the USB serial number of the unit's port
    QString model;        // "Talvo 400 S"
    int family = 0;       // TargetInfo::eTARGET_TYPE
    QString versionFrom;
    QString versionTo;
};

// The journal's file; empty when the per-user folder is unknown.
QString path();

// Notes the unit; false when it could not be written. A unit without a serial number is not noted:
// nothing could tell it from another unit later.
bool write(const Entry &entry, QString *problem = nullptr);
// The entry for this serial number; family 0 when there is none or it names no family known here.
Entry read(const QString &serialNumber);
void clear(const QString &serialNumber);

} // namespace InstallJournal
