// The small decoders every request passes through: cookie splitting, percent-decoding and
// the command-ID check. Each is held to what its callers rely on.
#include "FuzzSupport.h"
#include "http/CommandId.h"
#include "http/HttpCookie.h"
#include "http/HttpRequest.h"

#include <QRegularExpression>

namespace {

void checkCookiePieces(const QByteArray &header)
{
    for (const QByteArray &piece : HttpCookie::splitAttributes(header)) {
        VYR_FUZZ_CHECK(!piece.isEmpty());
        VYR_FUZZ_CHECK(piece == piece.trimmed());
        VYR_FUZZ_CHECK(!piece.contains('"'));
    }
}

void checkPercentDecoding(const QByteArray &text)
{
    const QByteArray decoded = HttpRequest::percentDecode(text);
    VYR_FUZZ_CHECK(decoded.size() <= text.size());
    if (!text.contains('%') && !text.contains('+'))
        VYR_FUZZ_CHECK(decoded == text);
}

void checkCommandId(const QByteArray &text)
{
    // What passes is safe in a reply, a log line and a job key as it is.
    static const QRegularExpression kAccepted(QStringLiteral(
        "^(\\{[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\\}|[0-9]{1,13})$"));
    const QByteArray id = escapeAndConvertToValidID(text);
    if (!id.isEmpty())
        VYR_FUZZ_CHECK(kAccepted.match(QString::fromLatin1(id)).hasMatch());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = fuzz::bytesOf(data, size);
    checkCookiePieces(text);
    checkPercentDecoding(text);
    checkCommandId(text);
    return 0;
}
