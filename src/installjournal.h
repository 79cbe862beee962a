#pragma once

#include <QString>

// What the program notes about a unit before it erases it, kept in the per-user folder until the
// installation succeeds: a unit left in its loader can then be restored with its own family's
// firmware, by the window or by talvo-flash, without asking which unit it is.
//
// The file is an INI file, one section per unit named by its serial number (as QSettings writes
// it, so journals of earlier versions keep working). It is the user's file, and the program may
// run as root: a journal that is a link, a directory, a FIFO, a device or larger than
// MAX_JOURNAL_BYTES is neither read nor written (a warning says why), and a new journal replaces
// the old one at once, written beside it and renamed over it.
namespace InstallJournal {

struct Entry
{
    QString serialNumber; // the USB serial number of the unit's port
    QString model;        // "Talvo 400 S"
    int family = 0;       // TargetInfo::eTARGET_TYPE
    QString versionFrom;
    QString versionTo;
};

// A journal holds a few lines per unit; a larger file is no journal of this program's.
const int MAX_JOURNAL_BYTES = 1 << 20;

// The journal's file; empty when the per-user folder is unknown.
QString path();

// A serial number that more than one port shows right now (PortEnumerator::identifiesOneUnit)
// identifies no unit: the journal is neither read nor written for it, and `problem` says so.
//
// Notes the unit, keeping the other units' sections; false when it could not be written (with
// why in `problem`). A unit without a serial number is not noted: nothing could tell it from
// another unit later.
bool write(const Entry &entry, QString *problem = nullptr);
// The entry for this serial number; family 0 when there is none, when it names no family known
// here, when the unit is noted twice with different families or when the journal cannot be read.
// `problem` says why the journal or the entry could not be used; empty when it was fine or absent.
Entry read(const QString &serialNumber, QString *problem = nullptr);
// Removes the unit's sections; false, with `problem`, when the journal had to be left as it was.
bool clear(const QString &serialNumber, QString *problem = nullptr);

} // namespace InstallJournal
