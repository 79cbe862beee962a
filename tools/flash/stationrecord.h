#pragma once

#include "recordfile.h"
#include "report.h"

#include <QList>
#include <QString>

// The station record: one CSV row (RFC 4180) per unit and run, appended to a file that several
// runs and stations may share, so that a station can tell later which firmware went into which
// unit, when, and whether it was verified. Each run's rows go in whole or not at all, at the
// moment its unit's run ends; a new file starts with a header line.
namespace StationRecord {

struct Row
{
    QString time;    // the end of the unit's run, UTC, ISO 8601 ("2026-12-09T16:40:00Z")
    QString program; // this program's version
    QString action;  // "probe", "install", "recover", "list"
    QString port;
    QString usbLocation;
    QString serialNumber;
    QString model;
    QString family;           // "S", "L"
    QString versionFound;     // on the unit before the run
    QString versionInstalled; // written whole by the run
    QString imageSha256;      // of the image written (or that was to be written)
    QString reason;           // the result's reason, as in the result event
    int exitStatus = 0;
    QString verified; // "yes", "no", "cannot" (the loader knows no CRC check)
    double seconds = 0;
    QString logFile; // the run's own debug log
};

// Whether `path` can take rows (created empty when missing); `why` says why not.
bool canAppend(const QString &path, QString *why);
// Appends the rows in one write under the file's lock, waiting for it as `waiting` says; `why`
// tells why it failed.
RecordFile::Outcome append(const QString &path, const QList<Row> &rows, const RecordFile::Waiting &waiting,
                           QString *why);

QString header();
QString csvLine(const Row &row);
// The row's fields for the result event, after its own ones (the reason, exit status, model and
// seconds are there already).
QList<Report::Field> jsonFields(const Row &row);

// The SHA-256 of a file (a resource of the carried images too), in lower-case hexadecimal; empty
// when it cannot be read.
QString sha256Of(const QString &path);

} // namespace StationRecord
