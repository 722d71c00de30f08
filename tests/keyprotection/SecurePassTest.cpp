#include "keyprotection/SecurePass.h"

#include "common/UnsupportedCharsException.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// A typed pass phrase reaches the cipher in the chosen encoding, or is refused rather than mangled.
TEST(SecurePassTest, Construct_TextInEncoding_BytesOrRefusal)
{
    const struct
    {
        QString text;
        QByteArray encoding, bytes;
    } cases[] = {// null bytes: refused
                 {QStringLiteral("zażółć"), "UTF-8", "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87"},
                 {QStringLiteral("café"), "ISO-8859-1", "caf\xe9"},
                 {QStringLiteral("zażółć"), "ISO-8859-1", {}},
                 {QStringLiteral("ż"), "windows-1250", "\xbf"},
                 {QStringLiteral("ab"), "UTF-16LE", QByteArray("a\0b\0", 4)},
                 {QString(QChar(0xd800)) + QStringLiteral("x"), "UTF-8", {}},
                 {QStringLiteral("abc"), "no-such-encoding", {}}};
    for (const auto &c : cases) {
        if (c.bytes.isNull()) {
            EXPECT_THROW(SecurePass(c.text, c.encoding), UnsupportedCharsException) << c.encoding.constData();
            continue;
        }
        const SecurePass pass(c.text, c.encoding);
        EXPECT_EQ(pass.bytes(), c.bytes) << c.encoding.constData();
    }
}

} // namespace
