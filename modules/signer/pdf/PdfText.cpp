#include "PdfText.h"

#include <algorithm>

namespace {

// Bytes as a literal string: delimiters escaped, everything outside printable ASCII in octal.
QByteArray literal(const QByteArray &bytes)
{
    QByteArray out("(");
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || c == '\\')
            out.append('\\').append(c);
        else if (byte < 0x20 || byte > 0x7e)
            out.append('\\').append(QByteArray::number(byte, 8).rightJustified(3, '0'));
        else
            out.append(c);
    }
    return out.append(')');
}

bool isPrintableAscii(const QString &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() <= 0x7e; });
}

} // namespace

namespace pdf {

QByteArray textString(const QString &text)
{
    if (isPrintableAscii(text))
        return literal(text.toLatin1());
    QByteArray utf16("\xfe\xff");
    for (const QChar c : text)
        utf16.append(static_cast<char>(c.unicode() >> 8)).append(static_cast<char>(c.unicode() & 0xff));
    return '<' + utf16.toHex() + '>';
}

QByteArray winAnsiString(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        // Below 0x80 and from 0xA0 WinAnsi agrees with Latin-1; between them it holds other characters.
        const bool shared =
            (c.unicode() >= 0x20 && c.unicode() < 0x7f) || (c.unicode() >= 0xa0 && c.unicode() <= 0xff);
        bytes.append(shared ? static_cast<char>(c.unicode()) : '?');
    }
    return literal(bytes);
}

QByteArray date(const QDateTime &time)
{
    return "(D:" + time.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "+00'00')";
}

QByteArray number(double value)
{
    QByteArray text = QByteArray::number(value, 'f', 2);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text == "-0" ? QByteArray("0") : text;
}

} // namespace pdf
