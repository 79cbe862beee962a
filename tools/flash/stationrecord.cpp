#include "stationrecord.h"

#include "nativepath.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

namespace StationRecord {

namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled. Before
// that, a field that a spreadsheet would run as a formula (=, +, -, @, a tab or a carriage return
// first) gets a ' in front, as OWASP advises for CSV: serial numbers, models and port names come
// from the units and the system. It applies to every field alike; none that the program makes
// itself begins so (times, versions, statuses and seconds are never negative).
QString csvField(QString text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.at(0)))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QString orNull(const QString &text)
{
    return Report::json(text.isEmpty() ? QString() : text);
}

} // namespace

bool canAppend(const QString &path, QString *why)
{
    std::string words;
    const bool ok = RecordFile::canAppend(nativePath(path), &words);
    if (!ok && why)
        *why = QString::fromStdString(words);
    return ok;
}

RecordFile::Outcome append(const QString &path, const QList<Row> &rows, const RecordFile::Waiting &waiting,
                           QString *why)
{
    QString lines;
    for (const Row &row : rows)
        lines += csvLine(row);
    std::string words;
    const RecordFile::Outcome outcome = RecordFile::append(nativePath(path), header().toStdString(),
                                                           lines.toUtf8().toStdString(), waiting, &words);
    if (outcome == RecordFile::Outcome::Failed && why)
        *why = QString::fromStdString(words);
    return outcome;
}

QString header()
{
    return QStringLiteral("time,program version,action,port,USB location,USB serial number,model,family,"
                          "version found,version installed,image SHA-256,result,exit status,verified,"
                          "seconds,log file\r\n");
}

QString csvLine(const Row &row)
{
    const QStringList fields = {row.time,
                                row.program,
                                row.action,
                                row.port,
                                row.usbLocation,
                                row.serialNumber,
                                row.model,
                                row.family,
                                row.versionFound,
                                row.versionInstalled,
                                row.imageSha256,
                                row.reason,
                                QString::number(row.exitStatus),
                                row.verified,
                                QString::number(row.seconds, 'f', 1),
                                row.logFile};
    QStringList cells;
    for (const QString &field : fields)
        cells << csvField(field);
    return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QList<Report::Field> jsonFields(const Row &row)
{
    return {{QStringLiteral("time"), Report::json(row.time)},
            {QStringLiteral("program"), Report::json(row.program)},
            {QStringLiteral("action"), Report::json(row.action)},
            {QStringLiteral("port"), orNull(row.port)},
            {QStringLiteral("usbLocation"), orNull(row.usbLocation)},
            {QStringLiteral("serialNumber"), orNull(row.serialNumber)},
            {QStringLiteral("family"), orNull(row.family)},
            {QStringLiteral("versionFound"), orNull(row.versionFound)},
            {QStringLiteral("versionInstalled"), orNull(row.versionInstalled)},
            {QStringLiteral("imageSha256"), orNull(row.imageSha256)},
            {QStringLiteral("verified"), Report::json(row.verified)},
            {QStringLiteral("logFile"), orNull(row.logFile)}};
}

QString sha256Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace StationRecord
