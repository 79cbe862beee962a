// Fuzz target: the programming-mode handshake's reply collection. The loader interface drains the
// line, sends the request and collects the reply in bursts (BSL_Interface::rxProgrammingMode over
// BSL_IO_UART), here over a scripted line (scriptedline.h), so every input runs in microseconds.
// Input: one flag byte (bit 0: the script repeats for ever), then the script.
// Checked against a model of the collection written from the protocol: the same result, the same
// version text, the request sent once, and a bounded number of reads.

#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "fuzzquietstart.h"
#include "fuzzreader.h"
#include "scriptedline.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

bool expectedHandshake(Reader &reader, QString &version)
{
    reader.readUntilSilent();
    QByteArray buffer;
    for (int attempt = 0; attempt < PROG_MODE_ATTEMPTS; ++attempt) {
        buffer += reader.readUntilSilent();
        if (buffer.isEmpty() || static_cast<uint8_t>(buffer.back()) != QS_FRAME)
            continue;
        if (buffer.size() >= 3 && static_cast<uint8_t>(buffer[0]) == QS_ESC &&
            static_cast<uint8_t>(buffer[1]) == QS_ESC && static_cast<uint8_t>(buffer[2]) == BSL_MODE) {
            version = QString::fromUtf8(buffer.mid(3, buffer.size() - 4));
            return true;
        }
        return false;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool endless = data[0] & 1;
    ScriptedLine::setScript(data + 1, size - 1, endless);

    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QString version = QStringLiteral("unchanged");
    const bool ok = bsl.rxProgrammingMode(version);

    Reader reader(ScriptedLine::decode(data + 1, size - 1), endless);
    QString expectedVersion = QStringLiteral("unchanged");
    const bool expected = expectedHandshake(reader, expectedVersion);

    if (ok != expected || version != expectedVersion)
        abort();
    const std::vector<uint8_t> request{QS_ESC, QS_ESC, BSL_MODE};
    if (ScriptedLine::written() != request)
        abort();
    // The drain and ten attempts, each ended by a silence or the byte bound.
    if (ScriptedLine::reads() > std::size_t(1 + PROG_MODE_ATTEMPTS) * (READ_UNTIL_TIMEOUT_MAX_BYTES + 1))
        abort();
    return 0;
}
