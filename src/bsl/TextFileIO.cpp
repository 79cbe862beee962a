#include "TextFileIO.h"

#include "logcategories.h"
#include "nativepath.h"
#include "plainfile.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace {

QIODevice *pFile = nullptr; // a file, or a buffer holding an image read before
uint32_t currentAddr = NO_DATA_READ;

// Lines are read in pieces of at most 49 characters (line ends included); a longer line goes on in
// the next piece. A full data line of the carried images (16 fields "XX ", CR, LF) is 50 characters:
// its first piece holds all 16 fields, the second the lone LF.
constexpr int LINE_BUFFER_SIZE = 50;
constexpr int MAX_FIELDS = 16;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The address after the '@' of an address line: optional blanks, 1 to 8 hex digits, then only
// blanks. False when the line does not have that form.
bool parseAddress(const char *line, int length, uint32_t &address)
{
    int i = 1;
    while (i < length && isBlank(line[i]))
        ++i;
    uint32_t value = 0;
    int digits = 0;
    for (; i < length && hexValue(line[i]) >= 0; ++i, ++digits)
        value = (value << 4) | static_cast<uint32_t>(hexValue(line[i]));
    for (; i < length; ++i) {
        if (!isBlank(line[i]))
            return false;
    }
    if (digits < 1 || digits > 8)
        return false;
    address = value;
    return true;
}

// The bytes of one data line piece: fields up to its last non-blank character, field k in the
// characters 3k and 3k + 1, each a hex number of at most two digits (text without digits gives 0),
// every other character a blank. A piece of blanks only (such as the lone LF after a full line)
// holds nothing. False for anything else, such as a seventeenth field, a field of one character or
// fields without their separating blank: converting such a line would lose or invent bytes without
// a trace.
bool parseDataLine(const char *line, int length, QByteArray &bytes)
{
    int used = length;
    while (used > 0 && isBlank(line[used - 1]))
        --used;
    if (used == 0)
        return true;
    // The last of n fields "XX" separated by single blanks ends at character 3n - 1, whether the
    // line goes on with a blank, a CR or directly with the LF.
    const int fields = qMin((used + 1) / 3, MAX_FIELDS);
    if (fields == 0)
        return false;
    for (int k = 0; k < fields; ++k) {
        const char *field = line + 3 * k;
        if (isBlank(field[0]) || isBlank(field[1]))
            return false;
        int value = 0;
        for (int i = 0; i < 2 && hexValue(field[i]) >= 0; ++i)
            value = (value << 4) | hexValue(field[i]);
        bytes.append(static_cast<char>(value));
    }
    for (int i = 0; i < length; ++i) {
        const bool inField = i < 3 * fields && i % 3 != 2;
        if (!inField && !isBlank(line[i]))
            return false;
    }
    return true;
}

void endImage(const char *line, int length)
{
    qCDebug(lcImage).noquote() << "readTI_TextFile"
                               << "unsupported line, the image ends here:"
                               << QString::fromLatin1(line, length).trimmed();
    currentAddr = TXT_EOF;
}

// Longest part of a line that a check's verdict shows.
constexpr int SHOWN_LINE_LENGTH = 40;
// The loader takes 24 address bits: no byte of an image may lie at or above this address.
constexpr quint64 ADDRESS_END = 0x1000000;

QString shown(const QByteArray &text)
{
    QString printable;
    for (int i = 0; i < text.size() && i < SHOWN_LINE_LENGTH; ++i) {
        const char c = text.at(i);
        printable += c >= 0x20 && c < 0x7F ? QLatin1Char(c) : QLatin1Char('?');
    }
    return text.size() > SHOWN_LINE_LENGTH ? printable + QStringLiteral("...") : printable;
}

// What is wrong with a data line ("XX" fields separated by single blanks, one blank allowed at the
// end), or nothing; its number of fields in `fields`.
QString dataLineFault(const QByteArray &line, int &fields)
{
    fields = 0;
    for (int i = 0; i < line.size();) {
        int end = line.indexOf(' ', i);
        if (end < 0)
            end = line.size();
        if (end - i != 2 || hexValue(line.at(i)) < 0 || hexValue(line.at(i + 1)) < 0)
            return QStringLiteral("field %1 \"%2\" is not two hexadecimal digits")
                .arg(fields + 1)
                .arg(shown(line.mid(i, end - i)));
        if (++fields > MAX_FIELDS)
            return QStringLiteral("more than %1 fields").arg(MAX_FIELDS);
        i = end + 1;
    }
    return QString();
}

// The address of an address line: "@" and 1 to 8 hex digits, one blank allowed at the end.
bool addressOf(const QByteArray &line, quint64 &address)
{
    const QByteArray digits = line.endsWith(' ') ? line.mid(1).chopped(1) : line.mid(1);
    bool ok = digits.size() >= 1 && digits.size() <= 8;
    for (const char c : digits)
        ok = ok && hexValue(c) >= 0;
    address = ok ? digits.toULongLong(nullptr, 16) : 0;
    return ok;
}

// What the check has met so far.
struct Reading
{
    quint64 next = 0; // the address of the next data byte
    bool addressed = false;
    bool closed = false;
    unsigned int dataBytes = 0;
};

// What is wrong with one line, its line end taken off, after the lines that `reading` has met;
// nothing when it is right, and then `reading` has taken it in.
QString lineFault(const QByteArray &line, Reading &reading)
{
    if (line.contains('\r'))
        return QStringLiteral("a carriage return inside the line");
    const bool blank = line.trimmed().isEmpty();
    if (reading.closed)
        return blank ? QString() : QStringLiteral("text after the closing q line");
    if (line == "q" || line == "Q" || line == "q " || line == "Q ") {
        reading.closed = true;
        return QString();
    }
    if (line.startsWith('@')) {
        if (!addressOf(line, reading.next))
            return QStringLiteral("not an address line (@ and 1 to 8 hexadecimal digits)");
        if (reading.next >= ADDRESS_END)
            return QStringLiteral("an address past the loader's 24-bit range");
        reading.addressed = true;
        return QString();
    }
    if (blank)
        return QStringLiteral("an empty line");
    int fields = 0;
    const QString wrong = dataLineFault(line, fields);
    if (!reading.addressed)
        return wrong.isEmpty() ? QStringLiteral("data before the first address line")
                               : QStringLiteral("the first line is not an address line");
    if (!wrong.isEmpty())
        return wrong;
    reading.next += static_cast<quint64>(fields);
    if (reading.next > ADDRESS_END)
        return QStringLiteral("data past the loader's 24-bit address range");
    reading.dataBytes += static_cast<unsigned int>(fields);
    return QString();
}

} // namespace

QString ImageCheck::describe(const QString &path) const
{
    if (line == 0)
        return QStringLiteral("%1: %2").arg(path, problem);
    const QString where = QStringLiteral("line %1 of %2: %3").arg(line).arg(path, problem);
    return lineText.isEmpty() ? where : QStringLiteral("%1: \"%2\"").arg(where, lineText);
}

ImageCheck checkTI_Text(const QByteArray &content)
{
    ImageCheck check;
    const auto fault = [&check](int line, const QByteArray &text, const QString &problem) {
        check.line = line;
        check.lineText = shown(text);
        check.problem = problem;
        check.dataBytes = 0;
        return check;
    };
    if (content.size() > TI_TEXT_MAX_SIZE)
        return fault(0, QByteArray(), QStringLiteral("larger than 4 MiB"));
    if (content.isEmpty())
        return fault(0, QByteArray(), QStringLiteral("the file is empty"));

    const QList<QByteArray> lines = content.split('\n');
    // After the last line end comes no line.
    const int count = lines.last().isEmpty() ? lines.size() - 1 : lines.size();
    Reading reading;
    for (int i = 0; i < count; ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QString wrong = lineFault(line, reading);
        if (!wrong.isEmpty())
            return fault(i + 1, line, wrong);
    }
    if (!reading.closed)
        return fault(count + 1, QByteArray(), QStringLiteral("the closing q line is missing"));
    check.dataBytes = reading.dataBytes;
    if (check.dataBytes == 0)
        return fault(0, QByteArray(), QStringLiteral("the image holds no data bytes"));
    check.ok = true;
    return check;
}

ImageCheck checkTI_TextLayout(const QByteArray &content, quint32 flashStart, quint32 flashEnd)
{
    ImageCheck check = checkTI_Text(content);
    if (!check.ok || flashEnd <= flashStart)
        return check;
    const auto fault = [&check](int line, const QByteArray &text, const QString &problem) {
        check.ok = false;
        check.line = line;
        check.lineText = shown(text);
        check.problem = problem;
        check.dataBytes = 0;
        return check;
    };
    const auto hex = [](quint64 address) {
        return QStringLiteral("0x%1").arg(address, 5, 16, QLatin1Char('0'));
    };
    // The line that gave each byte of the flash, 0 for none yet.
    std::vector<int> givenOn(flashEnd - flashStart, 0);
    const QList<QByteArray> lines = content.split('\n');
    quint64 next = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        if (line == "q" || line == "Q")
            break;
        if (line.startsWith('@')) {
            addressOf(line, next); // checked above
            continue;
        }
        const int fields = static_cast<int>(line.count(' ')) + 1;
        for (int k = 0; k < fields; ++k, ++next) {
            if (next < flashStart || next >= flashEnd)
                return fault(i + 1, lines.at(i).trimmed(),
                             QStringLiteral("byte %1 lies outside the family's flash (%2 to %3)")
                                 .arg(hex(next), hex(flashStart), hex(flashEnd - 1)));
            int &first = givenOn[next - flashStart];
            if (first != 0)
                return fault(
                    i + 1, lines.at(i).trimmed(),
                    QStringLiteral("byte %1 is given twice (first on line %2)").arg(hex(next)).arg(first));
            first = i + 1;
        }
    }
    const bool hasReset = RESET_VECTOR_ADDRESS >= flashStart && RESET_VECTOR_ADDRESS + 1 < flashEnd &&
                          givenOn[RESET_VECTOR_ADDRESS - flashStart] != 0 &&
                          givenOn[RESET_VECTOR_ADDRESS + 1 - flashStart] != 0;
    if (!hasReset)
        return fault(0, QByteArray(), QStringLiteral("the reset vector (0xFFFE-0xFFFF) is missing"));
    return check;
}

ImageCheck loadTI_Text(const QString &path, QByteArray &content)
{
    content.clear();
    ImageCheck check;
    // A file of the file system (a station's own image) is read as one state of it: one that
    // another program rewrites meanwhile would mix two images. Resources cannot change.
    if (!path.startsWith(QLatin1Char(':')) && !path.startsWith(QLatin1String("qrc:"))) {
        std::string bytes, why;
        const PlainFile::Outcome outcome =
            PlainFile::readUnchanged(nativePath(path), std::size_t(TI_TEXT_MAX_SIZE), &bytes, &why);
        if (outcome == PlainFile::Outcome::Done)
            return checkTI_Text(content = QByteArray::fromStdString(bytes));
        const bool tooLarge =
            outcome == PlainFile::Outcome::Refused && QFileInfo(path).size() > TI_TEXT_MAX_SIZE;
        check.problem = outcome == PlainFile::Outcome::Changed ? QString::fromStdString(why)
                        : tooLarge                             ? QStringLiteral("larger than 4 MiB")
                                   : QStringLiteral("cannot be read (%1)").arg(QString::fromStdString(why));
        return check;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        check.problem = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return check;
    }
    if (file.size() > TI_TEXT_MAX_SIZE) {
        check.problem = QStringLiteral("larger than 4 MiB");
        return check;
    }
    // One byte more than the limit shows a file that grew, or one whose size is not known ahead.
    content = file.read(TI_TEXT_MAX_SIZE + 1);
    if (file.error() != QFileDevice::NoError) {
        check.problem = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        content.clear();
        return check;
    }
    return checkTI_Text(content);
}

int openTI_TextInMemory(const QByteArray &content)
{
    if (pFile)
        return ERROR_OPENING_FILE;
    currentAddr = NO_DATA_READ;
    auto *buffer = new QBuffer;
    buffer->setData(content);
    buffer->open(QIODevice::ReadOnly);
    pFile = buffer;
    return OPERATION_SUCCESSFUL;
}

int openTI_TextForRead(const char *filename)
{
    if (pFile)
        return ERROR_OPENING_FILE;
    currentAddr = NO_DATA_READ;
    pFile = new QFile(QString::fromLocal8Bit(filename));
    if (pFile->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return OPERATION_SUCCESSFUL;
    qCDebug(lcImage).noquote().nospace() << "pFile->open failed: " << pFile->errorString();
    delete pFile;
    pFile = nullptr;
    // Nothing to read: the installation must find the image at its end before it sends anything.
    currentAddr = TXT_EOF;
    return ERROR_OPENING_FILE;
}

uint32_t readTI_TextFile(int bytesToRead, QByteArray &data)
{
    if (!pFile || currentAddr == TXT_EOF) {
        currentAddr = TXT_EOF;
        return TXT_EOF;
    }

    char line[LINE_BUFFER_SIZE];
    if (currentAddr == NO_DATA_READ) {
        const qint64 length = pFile->readLine(line, LINE_BUFFER_SIZE);
        uint32_t address = 0;
        if (length <= 0 || line[0] != '@' || !parseAddress(line, static_cast<int>(length), address)) {
            endImage(line, length > 0 ? static_cast<int>(length) : 0);
            return TXT_EOF;
        }
        currentAddr = address;
    }

    const uint32_t startAddr = currentAddr;
    for (;;) {
        const qint64 length = pFile->readLine(line, LINE_BUFFER_SIZE);
        // The last line of the file is not interpreted: in a TI-TXT file it is the closing "q".
        if (length <= 0 || pFile->atEnd()) {
            currentAddr = TXT_EOF;
            break;
        }
        if (line[0] == '@') {
            uint32_t address = 0;
            if (!parseAddress(line, static_cast<int>(length), address)) {
                endImage(line, static_cast<int>(length));
                break;
            }
            currentAddr = address;
            break;
        }
        if (line[0] == 'q' || line[0] == 'Q') {
            currentAddr = TXT_EOF;
            break;
        }
        QByteArray bytes;
        if (!parseDataLine(line, static_cast<int>(length), bytes)) {
            endImage(line, static_cast<int>(length));
            break;
        }
        data.append(bytes);
        currentAddr += static_cast<uint32_t>(bytes.size());
        if (data.size() >= bytesToRead)
            break;
    }
    return startAddr;
}

int moreDataToRead()
{
    return currentAddr != TXT_EOF ? 1 : 0;
}

void closeTI_Text()
{
    if (!pFile)
        return;
    pFile->close();
    delete pFile;
    pFile = nullptr;
}
