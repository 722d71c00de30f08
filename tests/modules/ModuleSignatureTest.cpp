#include "ModuleTestSupport.h"
#include "TestKeys.h"
#include "modules/ModuleReader.h"
#include "modules/ModuleSignatureBlock.h"
#include "support/QtPrinters.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <limits>

namespace {

constexpr quint32 kHeaderSize = 0x200;
constexpr qsizetype kPeOffset = 0x40;

void putUInt32(QByteArray &bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putInt64(QByteArray &bytes, qsizetype at, qint64 value)
{
    bytes.replace(at, 8, ModuleSignatureBlock::encodeInt64(value));
}

// The headers of a 32-bit PE file as far as the verifier reads them.
QByteArray peHeaders()
{
    QByteArray headers(kHeaderSize, '\0');
    headers.replace(0, 2, "MZ");
    putUInt32(headers, 0x3C, kPeOffset);
    headers.replace(kPeOffset, 4, QByteArray("PE\0\0", 4));
    putUInt32(headers, kPeOffset + 0x54, kHeaderSize);
    return headers;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(0xFF)); // never the marker
    return bytes;
}

class ModuleSignatureTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_poKey = std::make_unique<TestKey>(); }
    static void TearDownTestSuite() { s_poKey.reset(); }

    // A PE file: headers, body, block, padding and, when asked, a certificate table.
    QByteArray signedPe(int padding, bool certificateTable)
    {
        QByteArray file = peHeaders() + m_oBody + ModuleSignatureBlock::compose(s_poKey->sign(m_oBody));
        file += QByteArray(padding, '\0');
        if (certificateTable) {
            const QByteArray table = QByteArray(24, '\xFF') + randomBytes(40);
            putUInt32(file, kPeOffset + 0x98, static_cast<quint32>(file.size()));
            putUInt32(file, kPeOffset + 0x9C, static_cast<quint32>(table.size()));
            file += table;
        }
        return file;
    }
    // An ELF-like file: signed from byte 0, the marker is the last byte.
    QByteArray signedElf() const
    {
        const QByteArray data = "\x7F" "ELF" + m_oBody;
        return data + ModuleSignatureBlock::compose(s_poKey->sign(data));
    }
    bool verify(const QByteArray &file, bool executableHeaderMode = true)
    {
        const QString path = m_oDirectory.filePath(QStringLiteral("module.so"));
        EXPECT_TRUE(writeWholeFile(path, file));
        ModuleReader reader(path, executableHeaderMode, s_poKey->publicKey());
        const bool verified = reader.verify();
        m_oModuleData = reader.moduleData();
        return verified;
    }

    static inline std::unique_ptr<TestKey> s_poKey;
    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
    QByteArray m_oBody = randomBytes(1000);
    QByteArray m_oModuleData;
};

struct Layout
{
    int padding;
    bool certificateTable;
};

class ModuleSignatureLayoutTest : public ModuleSignatureTest, public ::testing::WithParamInterface<Layout>
{
};

TEST_P(ModuleSignatureLayoutTest, Verify_PaddingAndCertificateTable_SignedBytesFound)
{
    EXPECT_TRUE(verify(signedPe(GetParam().padding, GetParam().certificateTable)));
    EXPECT_EQ(m_oModuleData, m_oBody);
    EXPECT_TRUE(m_oLog.contains(QStringLiteral("Octaword padding size: %1").arg(GetParam().padding)));
}

INSTANTIATE_TEST_SUITE_P(Cases, ModuleSignatureLayoutTest, ::testing::ValuesIn([] {
                             std::vector<Layout> layouts;
                             for (int padding = 0; padding < 8; ++padding)
                                 layouts.insert(layouts.end(), {{padding, false}, {padding, true}});
                             return layouts;
                         }()));

TEST_F(ModuleSignatureTest, Verify_ElfInBothModes_SignedFromByteZero)
{
    EXPECT_TRUE(verify(signedElf(), false));
    EXPECT_EQ(m_oModuleData, "\x7F" "ELF" + m_oBody);
    EXPECT_TRUE(verify(signedElf(), true));
    EXPECT_EQ(m_oModuleData, "\x7F" "ELF" + m_oBody);
    EXPECT_TRUE(m_oLog.contains("Invalid PE file header"));
}

TEST_F(ModuleSignatureTest, Verify_ExtraDataSizeLimit_264AcceptedAnd265Refused)
{
    EXPECT_TRUE(verify(signedElf()));
    EXPECT_TRUE(m_oLog.contains("iExtraDataSize: 264 "));

    // 257 signature bytes: the block is consistent but over the limit.
    const QByteArray data = "\x7F" "ELF" + m_oBody;
    const QByteArray file = data + ModuleSignatureBlock::compose(s_poKey->sign(data) + 'x');
    EXPECT_FALSE(verify(file));
    EXPECT_TRUE(m_oLog.contains("wrong  iSignatureDataSize 265"));
    EXPECT_TRUE(m_oLog.contains("Module not read"));
    EXPECT_TRUE(m_oLog.contains("File not verified!"));
}

TEST_F(ModuleSignatureTest, Verify_OtherKey_Refused)
{
    const TestKey otherKey;
    const QByteArray data = "\x7F" "ELF" + m_oBody;
    EXPECT_FALSE(verify(data + ModuleSignatureBlock::compose(otherKey.sign(data))));
    EXPECT_TRUE(m_oLog.contains("Verification result: FALSE"));
}

struct Change
{
    const char *name;
    qsizetype offset;
    // Counted from just past the marker instead of from the file's start.
    bool fromBlockEnd;
    bool stillValid;
    char mask = 0x01;
};

class ModuleSignatureChangeTest : public ModuleSignatureTest, public ::testing::WithParamInterface<Change>
{
};

TEST_P(ModuleSignatureChangeTest, Verify_OneByteChanged_OnlyUnsignedBytesTolerated)
{
    QByteArray file = signedPe(3, true);
    const qsizetype blockEnd = file.size() - 64 - 3; // 64 table bytes after 3 padding bytes
    const qsizetype offset = GetParam().fromBlockEnd ? blockEnd + GetParam().offset : GetParam().offset;
    file[offset] = static_cast<char>(file[offset] ^ GetParam().mask);
    EXPECT_EQ(verify(file), GetParam().stillValid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModuleSignatureChangeTest,
    ::testing::Values(Change{"DosHeader", 0x10, false, true}, Change{"PeHeaderOtherField", kPeOffset + 0x08, false, true},
                      Change{"HeaderPadding", kHeaderSize - 1, false, true},
                      Change{"FirstDataByte", kHeaderSize, false, false},
                      Change{"LastDataByte", kHeaderSize + 999, false, false},
                      Change{"SignatureSizeField", kHeaderSize + 1000, false, false},
                      Change{"FirstSignatureByte", kHeaderSize + 1008, false, false},
                      Change{"LastSignatureByte", -10, true, false}, Change{"ExtraDataSizeField", -9, true, false},
                      Change{"Marker", -1, true, false}, Change{"PaddingByte", 1, true, true},
                      Change{"CertificateTableContent", 3 + 10, true, true},
                      Change{"SizeOfHeadersField", kPeOffset + 0x54, false, false},
                      Change{"CertificateTableSizeToZero", kPeOffset + 0x9C, false, false, 0x40}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModuleSignatureTest, Verify_EmptyOrMissingFile_NotRead)
{
    EXPECT_FALSE(verify(QByteArray()));
    EXPECT_FALSE(verify(QByteArray(), false));
    EXPECT_TRUE(m_oLog.contains("Module not read"));

    ModuleReader missing(m_oDirectory.filePath(QStringLiteral("absent.so")), true, s_poKey->publicKey());
    EXPECT_FALSE(missing.verify());
    EXPECT_TRUE(m_oLog.contains("Cannot read file '"));
}

// Cutting into the signed bytes or the block always fails. Where the marker is searched for,
// a file that merely lost its marker still verifies, and so does a PE file whose (unsigned)
// certificate table was cut short.
TEST_F(ModuleSignatureTest, Verify_EveryTruncation_RefusedUnlessOnlyUnsignedBytesGo)
{
    m_oBody = randomBytes(40);
    const QByteArray elf = signedElf();
    const QByteArray pe = signedPe(5, true);
    const qsizetype tablePosition = pe.size() - 64;
    for (qsizetype size = 0; size < elf.size(); ++size) {
        EXPECT_FALSE(verify(elf.left(size), false)) << size;
        EXPECT_EQ(verify(elf.left(size), true), size == elf.size() - 1) << size;
    }
    for (qsizetype size = 0; size < pe.size(); ++size)
        EXPECT_EQ(verify(pe.left(size), true), size >= tablePosition) << size;
}

struct Hostile
{
    const char *name;
    // Edits a signed ELF-like file and a signed PE file (padding 0, 64 table bytes).
    std::function<void(QByteArray &elf, QByteArray &pe)> edit;
};

class ModuleSignatureHostileTest : public ModuleSignatureTest, public ::testing::WithParamInterface<Hostile>
{
};

TEST_P(ModuleSignatureHostileTest, Verify_HostileSizes_RefusedWithoutReadingOutside)
{
    QByteArray elf = signedElf();
    QByteArray pe = signedPe(0, true);
    GetParam().edit(elf, pe);
    EXPECT_FALSE(verify(elf, false));
    EXPECT_FALSE(verify(elf, true));
    EXPECT_FALSE(verify(pe, true));
}

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

qsizetype markerPosition(const QByteArray &file, bool pe)
{
    return file.size() - 1 - (pe ? 64 : 0);
}

Hostile blockSizes(const char *name, qint64 extra, std::optional<qint64> signature = std::nullopt)
{
    return {name, [extra, signature](QByteArray &elf, QByteArray &pe) {
                for (QByteArray *file : {&elf, &pe}) {
                    const qsizetype marker = markerPosition(*file, file == &pe);
                    putInt64(*file, marker - 8, extra);
                    if (signature)
                        putInt64(*file, marker - extra - 8, *signature);
                }
            }};
}

Hostile peField(const char *name, qsizetype field, quint32 value)
{
    return {name, [field, value](QByteArray &elf, QByteArray &pe) {
                elf.replace(0, 4, QByteArray("MZ\0\0", 4));
                putUInt32(elf, 0x3C, 0x10);
                putUInt32(pe, field, value);
            }};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModuleSignatureHostileTest,
    ::testing::Values(blockSizes("ExtraNegative", -1), blockSizes("ExtraMax", kMax), blockSizes("ExtraMin", kMin),
                      blockSizes("ExtraZero", 0),
                      blockSizes("SignatureEmpty", 8, 0), blockSizes("SignatureNegative", 264, -1),
                      blockSizes("SignatureHuge", 264, kMax), blockSizes("SignatureMin", 264, kMin),
                      peField("NewHeaderOffsetHuge", 0x3C, 0xFFFFFFF0u),
                      peField("HeaderSizeBeyondFile", kPeOffset + 0x54, 0xFFFFFFFFu),
                      peField("TableBeyondFile", kPeOffset + 0x98, 0xFFFFFF00u),
                      peField("TableAtStart", kPeOffset + 0x98, 4)),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModuleSignatureTest, BuiltInKey_BuildSignedModule_VerifiedOnlyByBuildKey)
{
    const QString module = testModulePath(QStringLiteral("Mod1.so"));
    EXPECT_TRUE(ModuleReader(module, true).verify());
    EXPECT_FALSE(ModuleReader(module, true, s_poKey->publicKey()).verify());

    QString error;
    const ModulePublicKey buildKey = ModulePublicKey::fromPemFile(QStringLiteral(VYR_BUILD_PUBLIC_KEY), &error);
    ASSERT_TRUE(buildKey.isValid()) << error.toStdString();
    EXPECT_EQ(ModulePublicKey::builtIn().modulus, buildKey.modulus);
    EXPECT_EQ(ModulePublicKey::builtIn().exponent, buildKey.exponent);
}

TEST(ModuleSignatureBlockTest, Slice_RangesAtAndBeyondEdges_OnlyInsideAnswered)
{
    const QByteArray bytes("0123456789");
    EXPECT_EQ(ModuleSignatureBlock::slice(bytes, 10, 0), QByteArray(""));
    EXPECT_EQ(ModuleSignatureBlock::slice(bytes, 2, 8), QByteArray("23456789"));
    EXPECT_FALSE(ModuleSignatureBlock::slice(bytes, 2, 9));
    EXPECT_FALSE(ModuleSignatureBlock::slice(bytes, -1, 1));
    EXPECT_FALSE(ModuleSignatureBlock::slice(bytes, 1, -1));
    EXPECT_FALSE(ModuleSignatureBlock::slice(bytes, 5, kMax));
    EXPECT_FALSE(ModuleSignatureBlock::slice(bytes, kMax, 1));
    EXPECT_FALSE(ModuleSignatureBlock::decodeInt64(bytes, 3));
    EXPECT_EQ(ModuleSignatureBlock::decodeInt64(ModuleSignatureBlock::encodeInt64(kMin), 0), kMin);
    EXPECT_EQ(ModuleSignatureBlock::encodeInt64(264), QByteArray("\x08\x01\0\0\0\0\0\0", 8));
}

} // namespace
