#include "installjournal.h"

#include "logcategories.h"
#include "nativepath.h"
#include "plainfile.h"
#include "portenumerator.h"
#include "targetinfo.h"
#include "userfolder.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QStringList>

namespace InstallJournal {

namespace {

// Serial numbers are the section names, escaped as QSettings escapes a group name.
const QString KEY_MODEL = QStringLiteral("model");
const QString KEY_FAMILY = QStringLiteral("family");
const QString KEY_FROM = QStringLiteral("versionFrom");
const QString KEY_TO = QStringLiteral("versionTo");

// One [section] of the file and the lines after it, kept as the file has them for the sections
// that a write leaves alone.
struct Section
{
    QString name; // unescaped; empty for the lines before the first section and for [General]
    QByteArray text;
    QHash<QString, QStringList> values; // each key's values in the order of the file
};

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// A key or group name as QSettings writes it: letters, digits, '_', '-' and '.' as they are,
// '/' as '\', anything else as %XX or %UXXXX.
QByteArray escapedKey(const QString &key)
{
    QByteArray out;
    for (const QChar c : key) {
        const ushort code = c.unicode();
        if (c == QLatin1Char('/'))
            out += '\\';
        else if (code < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') ||
                                 c == QLatin1Char('.')))
            out += char(code);
        else if (code <= 0xFF)
            out += '%' + QByteArray::number(code, 16).toUpper().rightJustified(2, '0');
        else
            out += "%U" + QByteArray::number(code, 16).toUpper().rightJustified(4, '0');
    }
    return out;
}

QString unescapedKey(const QString &key)
{
    QString out;
    for (int i = 0; i < key.size(); ++i) {
        const bool wide = key.midRef(i + 1, 1) == QLatin1String("U");
        const int digits = wide ? 4 : 2;
        bool number = key.at(i) == QLatin1Char('%') && key.size() > i + digits + int(wide);
        const uint code = number ? key.mid(i + 1 + int(wide), digits).toUInt(&number, 16) : 0;
        if (number) {
            out += QChar(ushort(code));
            i += digits + int(wide);
        } else {
            out += key.at(i) == QLatin1Char('\\') ? QLatin1Char('/') : key.at(i);
        }
    }
    return out;
}

// A text value as QSettings writes it: quoted when it holds ';', ',' or '=' or starts or ends
// with a blank, '\' and '"' escaped, a control or non-ASCII character as \x and its hexadecimal
// code (and so a hexadecimal digit right after one, which would extend the code).
QByteArray escapedValue(const QString &value)
{
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray out;
    bool afterCode = false;
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (code < 0x20 || code >= 0x7F || (afterCode && isHexDigit(c))) {
            out += "\\x" + QByteArray::number(code, 16);
            afterCode = true;
            continue;
        }
        afterCode = false;
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += '\\';
        out += char(code);
    }
    const bool quoted = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char(',')) ||
                        text.contains(QLatin1Char('=')) || text.startsWith(QLatin1Char(' ')) ||
                        text.endsWith(QLatin1Char(' '));
    return quoted ? '"' + out + '"' : out;
}

QString unescapedValue(const QString &raw)
{
    const QString simple = QStringLiteral("abfnrtv");
    const QString control = QStringLiteral("\a\b\f\n\r\t\v");
    QString out;
    int kept = 0; // unquoted blanks at the end are not part of the value
    bool quoted = false;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(';') && !quoted) {
            break; // a comment
        } else if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar e = raw.at(++i);
            int end = i + 1;
            if (e == QLatin1Char('x')) {
                while (end < raw.size() && isHexDigit(raw.at(end)))
                    ++end;
                out += QChar(ushort(raw.mid(i + 1, end - i - 1).toUInt(nullptr, 16)));
                i = end - 1;
            } else if (e >= QLatin1Char('0') && e <= QLatin1Char('7')) {
                while (end < raw.size() && raw.at(end) >= QLatin1Char('0') && raw.at(end) <= QLatin1Char('7'))
                    ++end;
                out += QChar(ushort(raw.mid(i, end - i).toUInt(nullptr, 8)));
                i = end - 1;
            } else {
                out += simple.contains(e) ? control.at(simple.indexOf(e)) : e;
            }
        } else if (out.isEmpty() && !quoted && c.isSpace()) {
            continue;
        } else {
            out += c;
            if (quoted || !c.isSpace())
                kept = out.size();
            continue;
        }
        kept = out.size();
    }
    out.truncate(kept);
    return out.startsWith(QLatin1String("@@")) ? out.mid(1) : out;
}

QList<Section> parse(const QByteArray &content)
{
    QList<Section> sections{Section()};
    int start = 0;
    while (start < content.size()) {
        int end = content.indexOf('\n', start);
        end = end < 0 ? content.size() : end + 1;
        const QByteArray rawLine = content.mid(start, end - start);
        start = end;
        const QString line = QString::fromUtf8(rawLine).trimmed();
        const int close = line.lastIndexOf(QLatin1Char(']'));
        if (line.startsWith(QLatin1Char('[')) && close > 0) {
            // [General] holds the keys outside any group; [%General] is the group General.
            const QString name = line.mid(1, close - 1);
            Section section;
            if (name.compare(QLatin1String("general"), Qt::CaseInsensitive) != 0)
                section.name = name.compare(QLatin1String("%general"), Qt::CaseInsensitive) == 0
                                   ? name.mid(1)
                                   : unescapedKey(name);
            sections.append(section);
        } else if (!line.startsWith(QLatin1Char(';')) && !line.startsWith(QLatin1Char('#')) &&
                   line.indexOf(QLatin1Char('=')) > 0) {
            const int equals = line.indexOf(QLatin1Char('='));
            sections.last().values[unescapedKey(line.left(equals).trimmed())]
                << unescapedValue(line.mid(equals + 1));
        }
        sections.last().text += rawLine;
    }
    return sections;
}

QByteArray sectionText(const Entry &entry)
{
    const QString &name = entry.serialNumber;
    const QByteArray header = name.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0
                                  ? '%' + name.toLatin1()
                                  : escapedKey(name);
    return '[' + header + "]\n" + KEY_FAMILY.toLatin1() + '=' + QByteArray::number(entry.family) + '\n' +
           KEY_MODEL.toLatin1() + '=' + escapedValue(entry.model) + '\n' + KEY_FROM.toLatin1() + '=' +
           escapedValue(entry.versionFrom) + '\n' + KEY_TO.toLatin1() + '=' + escapedValue(entry.versionTo) +
           '\n';
}

void setProblem(QString *problem, const QString &text)
{
    if (problem)
        *problem = text;
}

// A serial number that more than one port shows now names no one unit: the entry of one unit
// would choose the firmware of another. Such a number is neither read nor written.
bool sharedSerialNumber(const QString &serialNumber, QString *problem, const char *refusal)
{
    QStringList ports;
    if (PortEnumerator::identifiesOneUnit(serialNumber, &ports))
        return false;
    const QString why = QStringLiteral("the USB serial number %1 is shown by more than one port (%2): it "
                                       "identifies no unit")
                            .arg(serialNumber, ports.join(QStringLiteral(", ")));
    setProblem(problem, why);
    qCWarning(lcController).noquote() << "Journal" << QDir::toNativeSeparators(path()) << refusal << why;
    return true;
}

// The journal as it stands, when it can be used: a missing one is empty.
bool load(const QString &file, QByteArray *content, QString *problem, const char *refusal)
{
    std::string bytes, why;
    const PlainFile::Outcome outcome = PlainFile::read(nativePath(file), MAX_JOURNAL_BYTES, &bytes, &why);
    if (outcome == PlainFile::Outcome::Done || outcome == PlainFile::Outcome::Missing) {
        *content = QByteArray::fromStdString(bytes);
        return true;
    }
    setProblem(problem, QString::fromStdString(why));
    qCWarning(lcController).noquote()
        << "Journal" << QDir::toNativeSeparators(file) << refusal << QString::fromStdString(why);
    return false;
}

// How long a change waits for another run's change of the journal (a few file operations, each
// flushed to disk); longer, and the unit counts as not noted.
const int LOCK_WAIT_MS = 2000;

// Writes the journal with the unit's sections taken out and `added` appended.
bool rewrite(const QString &serialNumber, const QByteArray &added, QString *problem)
{
    const QString file = path();
    QByteArray content;
    if (file.isEmpty()) {
        setProblem(problem, QStringLiteral("there is no per-user folder"));
        return false;
    }
    // Runs side by side (--all, two windows) each add their unit: one at a time, or the last to
    // replace the file would drop what the others noted meanwhile.
    if (!QDir().mkpath(UserFolder::path())) {
        setProblem(problem, QStringLiteral("its folder cannot be made"));
        return false;
    }
    const QString lockFile = file + QStringLiteral(".lock");
    PlainFile::Lock lock;
    std::string lockWhy;
    if (lock.take(nativePath(lockFile), LOCK_WAIT_MS, &lockWhy) != PlainFile::Outcome::Done) {
        const QString why = QStringLiteral("its lock %1 cannot be taken (%2)")
                                .arg(QDir::toNativeSeparators(lockFile), QString::fromStdString(lockWhy));
        setProblem(problem, why);
        qCWarning(lcController).noquote()
            << "Journal" << QDir::toNativeSeparators(file) << "not written:" << why;
        return false;
    }
    if (!load(file, &content, problem, "left alone:"))
        return false;
    QByteArray kept;
    bool dropped = false;
    for (const Section &section : parse(content)) {
        if (section.name == serialNumber)
            dropped = true;
        else
            kept += section.text;
    }
    if (!dropped && added.isEmpty())
        return true;
    // One blank line between sections, none at the end.
    while (kept.endsWith("\n\n"))
        kept.chop(1);
    if (!kept.isEmpty() && !added.isEmpty())
        kept += kept.endsWith('\n') ? "\n" : "\n\n";
    std::string why;
    if (PlainFile::replace(nativePath(file), (kept + added).toStdString(), &why))
        return true;
    setProblem(problem, QString::fromStdString(why));
    qCWarning(lcController).noquote()
        << "Journal" << QDir::toNativeSeparators(file) << "not written:" << QString::fromStdString(why);
    return false;
}

} // namespace

QString path()
{
    const QString folder = UserFolder::path();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/journal.ini");
}

bool write(const Entry &entry, QString *problem)
{
    setProblem(problem, QString());
    if (entry.serialNumber.isEmpty() || sharedSerialNumber(entry.serialNumber, problem, "not written:"))
        return false;
    // The entry must be on disk before the erase that it is about: replace() flushes it.
    return rewrite(entry.serialNumber, sectionText(entry), problem);
}

Entry read(const QString &serialNumber, QString *problem)
{
    setProblem(problem, QString());
    Entry entry;
    const QString file = path();
    QByteArray content;
    if (serialNumber.isEmpty() || file.isEmpty())
        return entry;
    entry.serialNumber = serialNumber;
    if (sharedSerialNumber(serialNumber, problem, "not read, the unit counts as not noted:"))
        return entry;
    if (!load(file, &content, problem, "not read, the unit counts as not noted:"))
        return entry;
    QStringList families;
    bool noted = false;
    for (const Section &section : parse(content)) {
        if (section.name != serialNumber)
            continue;
        noted = true;
        const auto last = [&section](const QString &key, const QString &otherwise) {
            return section.values.value(key).isEmpty() ? otherwise : section.values.value(key).constLast();
        };
        entry.model = last(KEY_MODEL, entry.model);
        entry.versionFrom = last(KEY_FROM, entry.versionFrom);
        entry.versionTo = last(KEY_TO, entry.versionTo);
        families << section.values.value(KEY_FAMILY);
    }
    families.removeDuplicates();
    // The file is the user's: anything but one family this program carries counts as not noted.
    bool number = false;
    const int family = families.size() == 1 ? families.constFirst().toInt(&number) : 0;
    if (number && (family == TargetInfo::TARGET_TALVO_S || family == TargetInfo::TARGET_TALVO_L)) {
        entry.family = family;
    } else if (noted) {
        const QString why =
            families.size() > 1
                ? QStringLiteral("the unit %1 is noted with different families").arg(serialNumber)
                : QStringLiteral("the unit %1 is noted with no family known here").arg(serialNumber);
        setProblem(problem, why);
        qCWarning(lcController).noquote() << "Journal" << QDir::toNativeSeparators(file)
                                          << "not used, the unit counts as not noted:" << why;
    }
    return entry;
}

bool clear(const QString &serialNumber, QString *problem)
{
    setProblem(problem, QString());
    if (serialNumber.isEmpty())
        return true;
    return !sharedSerialNumber(serialNumber, problem, "left alone:") &&
           rewrite(serialNumber, QByteArray(), problem);
}

} // namespace InstallJournal
