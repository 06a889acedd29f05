// The network block: the read-back decoder (block bytes, serial text and TCP answer), the
// texts the dialog and `qeln-cli ip show` make of it, and the write block built from it as
// read and with every item selected.
//
// Input layout: byte 0 bits 0-1 pick the shape: 0 the block itself, 1 the TCP answer, 2 the
// serial text ":01B2" + the block in hex + LRC, 3 the serial text as received (any bytes);
// the rest is the block or the text.
#include "cliip.h"
#include "fuzzsupport.h"
#include "link/answer.h"
#include "network/ipsettings.h"

#include <QCoreApplication>
#include <QJsonDocument>

using namespace qeln;
using fuzzsupport::fail;

namespace {

void checkWrite(const IpWriteBlock &write)
{
    if (!write.ok())
        return;
    if (write.payload.size() > IpWriteMaxPayload)
        fail("write block over the payload limit");
    if (!write.payload.startsWith(QByteArrayView("\x12\x34\x56\x78", 4)))
        fail("write block without its marker");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int shape = data[0] & 3;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    std::optional<IpSettingsReadBack> readBack;
    switch (shape) {
    case 0:
        readBack = decodeIpSettingsBlock(rest);
        if (readBack->blockBytes != rest.size())
            fail("block size not recorded");
        break;
    case 1:
    case 2: {
        // The block as the serial link carries it: hexadecimal pairs in a frame of its own.
        const QByteArray text = fuzzsupport::serialText("01B2" + fuzzsupport::hexPairs(rest));
        const ParsedAnswer parsed = parseAsciiFrame(text);
        const auto *answer = std::get_if<Answer>(&parsed);
        if (!answer || answer->function != 0xB2 || answer->payload != rest)
            fail("serial block in hexadecimal not parsed whole");
        readBack = decodeIpSettingsBlock(answer->payload);
        break;
    }
    default: {
        // Any text as a serial frame: parsed or refused, never more.
        const ParsedAnswer parsed = parseAsciiFrame(rest);
        if (const auto *answer = std::get_if<Answer>(&parsed))
            readBack = decodeIpSettingsBlock(answer->payload);
        break;
    }
    }
    if (!readBack)
        return 0;
    if (readBack->complete() != readBack->missingFields().isEmpty())
        fail("complete and missing fields disagree");
    if (readBack->complete() != readBack->cutShortMessage().isEmpty())
        fail("complete and the cut-short message disagree");
    (void)QJsonDocument(CliIp::toJson(*readBack)).toJson(QJsonDocument::Compact);

    IpSettingsForm form = formFromReadBack(*readBack);
    checkWrite(buildIpSettingsWrite(form, readBack));
    form.selectAll(true);
    checkWrite(buildIpSettingsWrite(form, readBack));
    return 0;
}
