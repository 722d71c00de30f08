// The module and command a request names, as the preflight and the controller both take
// them, against a plain reading of the request target written here: decode the path, take
// its non-empty segments, and the last "cmd" of the query. Whatever the target, the module
// is one path segment that cannot climb out of the module directory.
#include "FuzzSupport.h"
#include "http/HttpRequest.h"
#include "policy/RequestTarget.h"

#include <QBuffer>
#include <QList>
#include <optional>

namespace {

std::optional<int> hexDigit(char c)
{
    const QByteArray digits = "0123456789abcdef";
    const qsizetype index = digits.indexOf(char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    return index >= 0 ? std::optional<int>(int(index)) : std::nullopt;
}

QByteArray decoded(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto high = i + 2 < text.size() ? hexDigit(text[i + 1]) : std::nullopt;
        const auto low = i + 2 < text.size() ? hexDigit(text[i + 2]) : std::nullopt;
        if (text[i] == '%' && high && low) {
            out += char(*high * 16 + *low);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

QByteArray lastCmd(const QByteArray &query)
{
    QByteArray cmd;
    for (const QByteArray &pair : query.split('&')) {
        // A bare "cmd" names the parameter with an empty value.
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0 && decoded(pair) == "cmd")
            cmd.clear();
        else if (equals >= 0 && decoded(pair.left(equals).trimmed()) == "cmd")
            cmd = decoded(pair.mid(equals + 1).trimmed());
    }
    return cmd;
}

RequestTarget expectedTarget(const QByteArray &requestTarget)
{
    const qsizetype question = requestTarget.indexOf('?');
    const QByteArray path = decoded(question >= 0 ? requestTarget.left(question) : requestTarget);
    const QByteArray cmd = question >= 0 ? lastCmd(requestTarget.mid(question + 1)) : QByteArray();
    QList<QByteArray> segments{QByteArray()};
    for (const char c : path) {
        if (c != '/')
            segments.back() += c;
        else if (!segments.back().isEmpty())
            segments.append(QByteArray());
    }
    if (segments.back().isEmpty())
        segments.removeLast();
    if (segments.isEmpty())
        return {QByteArray(), cmd};
    if (segments.size() == 1 && cmd.isEmpty())
        return {QByteArray(), segments[0]};
    const QByteArray module =
        segments[0].contains("..") ? RequestTarget::kClimbingModuleReplacement : segments[0];
    return {module, segments.size() == 1 ? cmd : segments[1]};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray requestTarget = fuzz::bytesOf(data, size);
    // What the request line's syntax cannot carry.
    for (const char separator : {' ', '\r', '\n'})
        requestTarget.replace(separator, "");
    QByteArray wire = "POST " + requestTarget + " HTTP/1.1\r\n\r\n";
    QBuffer device(&wire);
    device.open(QIODevice::ReadOnly);
    HttpRequest request(1 << 20, 1 << 20);
    request.receive(device);
    VYR_FUZZ_CHECK(request.status() == HttpRequest::Complete);

    const RequestTarget actual = RequestTarget::of(request);
    const RequestTarget expected = expectedTarget(requestTarget);
    VYR_FUZZ_CHECK(actual.module == expected.module);
    VYR_FUZZ_CHECK(actual.command == expected.command);
    VYR_FUZZ_CHECK(!actual.module.contains('/') && !actual.module.contains(".."));
    return 0;
}
