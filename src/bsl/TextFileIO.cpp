#include "TextFileIO.h"

#include "logcategories.h"

#include <QDebug>
#include <QFile>

namespace {

QFile *pFile = nullptr;
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

// The bytes of one data line piece: floor((length - 4) / 3) + 1 fields, field k in the characters
// 3k and 3k + 1, each a hex number of at most two digits (text without digits gives 0), every other
// character a blank. A piece of blanks only (such as the lone LF after a full line) holds nothing.
// False for anything else, such as a seventeenth field, a field of one character, fields without
// their separating blank, or a last field followed directly by the line feed: converting such a
// line would lose or invent bytes without a trace.
bool parseDataLine(const char *line, int length, QByteArray &bytes)
{
    bool blank = true;
    for (int i = 0; i < length && blank; ++i)
        blank = isBlank(line[i]);
    if (blank)
        return true;
    if (length < 4)
        return false;
    const int fields = qMin((length - 4) / 3 + 1, MAX_FIELDS);
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

} // namespace

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
