// Fuzz target: the loader packet layer's reply judging. Two things per input:
// - processRspData on the input as a reply, with the expected message code chosen by the first
//   byte, against the rule: accepted exactly when the expected code is 0 or 5 and the first seven
//   bytes are that message reply;
// - a whole mass-erase step (ten attempts of frame, acknowledgement, reply) with the input as what
//   the loader sends, over a scripted line (scriptedline.h), against a model of the attempts: the
//   same outcome and the same number of frames sent, each of them the mass-erase frame.

#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "fuzzquietstart.h"
#include "fuzzreader.h"
#include "scriptedline.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

// Befriended by BSL_Interface for its packet-layer tests.
class BslPacketTest
{
public:
    static bool judge(BSL_Interface &bsl, const QByteArray &reply, int expected)
    {
        return bsl.processRspData(reply, expected);
    }
};

namespace {

const QByteArray OK_REPLY("\x80\x02\x00\x3B\x00\x60\xC4", 7);
const QByteArray PASSWORD_ERROR_REPLY("\x80\x02\x00\x3B\x05\xC5\x94", 7);
const QByteArray ERASE_FRAME("\x80\x01\x00\x15\x64\xA3", 6);

// The erase step: up to ten attempts; every failed attempt is followed by waiting for a quiet line,
// and one without any acknowledgement first by the filler that completes a frame the loader may
// still be waiting for.
bool expectedErase(Reader &reader, QByteArray &written)
{
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        written += ERASE_FRAME;
        const int ack = reader.readByte();
        if (ack == BSL_ACK && reader.readUntilSilent().left(7) == OK_REPLY)
            return true;
        if (ack == Reader::SILENCE)
            written += QByteArray(BSL_MAX_FRAME_SIZE, static_cast<char>(BSL_FRAME_FILLER));
        reader.readUntilSilent();
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    BSL_Interface bsl(BSL_BUFFER_SIZE);

    const int selector = data[0] % 3;
    const int expectedCode = selector == 0   ? SUCCESSFUL_OPERATION
                             : selector == 1 ? BSL_PASSWORD_ERROR
                                             : data[0];
    const QByteArray reply(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));
    const bool accepted = BslPacketTest::judge(bsl, reply, expectedCode);
    const bool rule = (expectedCode == SUCCESSFUL_OPERATION && reply.left(7) == OK_REPLY) ||
                      (expectedCode == BSL_PASSWORD_ERROR && reply.left(7) == PASSWORD_ERROR_REPLY);
    if (accepted != rule)
        abort();

    ScriptedLine::setScript(data + 1, size - 1);
    const bool erased = bsl.erase();
    Reader reader(ScriptedLine::decode(data + 1, size - 1));
    QByteArray expectedWritten;
    const bool expected = expectedErase(reader, expectedWritten);
    if (erased != expected)
        abort();
    const std::vector<uint8_t> &written = ScriptedLine::written();
    if (QByteArray(reinterpret_cast<const char *>(written.data()), int(written.size())) != expectedWritten)
        abort();
    return 0;
}
