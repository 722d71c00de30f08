#include "keyprotection/SecurePass.h"

#include "common/UnsupportedCharsException.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {
struct EncodingCase
{
    const char *name;
    QString text;
    QByteArray encoding;
    QByteArray bytes; // null: refused
};

std::string caseName(const ::testing::TestParamInfo<EncodingCase> &info)
{
    return info.param.name;
}

class SecurePassEncodingTest : public ::testing::TestWithParam<EncodingCase>
{
};

INSTANTIATE_TEST_SUITE_P(
    Encodings, SecurePassEncodingTest,
    ::testing::Values(
        EncodingCase{"AsciiUtf8", QStringLiteral("e3b0c442"), "UTF-8", "e3b0c442"},
        EncodingCase{"PolishUtf8", QStringLiteral("zażółć"), "UTF-8", "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87"},
        EncodingCase{"LatinInLatin1", QStringLiteral("café"), "ISO-8859-1", "caf\xe9"},
        EncodingCase{"PolishInLatin1", QStringLiteral("zażółć"), "ISO-8859-1", QByteArray()},
        EncodingCase{"PolishInWindows1250", QStringLiteral("ż"), "windows-1250", "\xbf"},
        EncodingCase{"Utf16WithoutByteOrderMark", QStringLiteral("ab"), "UTF-16LE", QByteArray("a\0b\0", 4)},
        EncodingCase{"LoneSurrogateUtf8", QString(QChar(0xd800)) + QStringLiteral("x"), "UTF-8",
                     QByteArray()},
        EncodingCase{"TrailingHighSurrogateUtf8", QStringLiteral("x") + QChar(0xd83d), "UTF-8", QByteArray()},
        EncodingCase{"UnknownEncoding", QStringLiteral("abc"), "no-such-encoding", QByteArray()}),
    caseName);
} // namespace

TEST_P(SecurePassEncodingTest, Construct_TextInEncoding_BytesOrRefusal)
{
    const EncodingCase &c = GetParam();
    if (c.bytes.isNull()) {
        try {
            SecurePass pass(c.text, c.encoding);
            FAIL() << "accepted text the encoding cannot represent";
        } catch (const UnsupportedCharsException &e) {
            EXPECT_EQ(e.getMessage(), QStringLiteral("User has entered unsupported characters!"));
        }
        return;
    }
    const SecurePass pass(c.text, c.encoding);
    EXPECT_EQ(pass.bytes(), c.bytes);
    EXPECT_EQ(pass.encoding(), c.encoding);
}

TEST(SecureObjectTest, Construct_FromBytes_SourceWipedAndCopiesShareOneBlock)
{
    QByteArray source("secret material");
    const SecureObject secret(std::move(source));
    EXPECT_TRUE(source.isEmpty());
    const SecureObject copy = secret;
    EXPECT_EQ(copy.constData(), secret.constData());
    EXPECT_EQ(copy.bytes(), QByteArray("secret material"));
    EXPECT_TRUE(SecureObject().isEmpty());
}
