#include "ModuleTestSupport.h"
#include "TestKeys.h"
#include "modules/ModuleReader.h"
#include "modules/ModuleSignatureBlock.h"
#include "support/QtPrinters.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <limits>
#include <optional>

namespace {

constexpr quint32 kHeaderSize = 0x200;
constexpr qsizetype kPeOffset = 0x40;
constexpr qsizetype kSizeOfHeaders = kPeOffset + 0x54;
constexpr qsizetype kCertificateTable = kPeOffset + 0x98; // position, then size
constexpr qsizetype kTableSize = 64;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

void putUInt32(QByteArray &bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
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

    // 32-bit PE headers, body, block, padding and, when asked, a certificate table.
    QByteArray signedPe(int padding, bool certificateTable) const
    {
        QByteArray file(kHeaderSize, '\0');
        file.replace(0, 2, "MZ");
        putUInt32(file, 0x3C, kPeOffset);
        file.replace(kPeOffset, 4, QByteArray("PE\0\0", 4));
        putUInt32(file, kSizeOfHeaders, kHeaderSize);
        file += m_oBody + ModuleSignatureBlock::compose(s_poKey->sign(m_oBody)) + QByteArray(padding, '\0');
        if (certificateTable) {
            putUInt32(file, kCertificateTable, static_cast<quint32>(file.size()));
            putUInt32(file, kCertificateTable + 4, kTableSize);
            file += QByteArray(24, '\xFF') + randomBytes(kTableSize - 24);
        }
        return file;
    }
    // ELF-like: signed from byte 0, the marker is the last byte.
    QByteArray signedElf(const QByteArray &extraSignatureBytes = QByteArray()) const
    {
        const QByteArray data = "\177ELF" + m_oBody;
        return data + ModuleSignatureBlock::compose(s_poKey->sign(data) + extraSignatureBytes);
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

TEST_F(ModuleSignatureTest, Verify_PaddingAndCertificateTable_SignedBytesFound)
{
    for (int padding = 0; padding < 8; ++padding)
        for (const bool certificateTable : {false, true}) {
            EXPECT_TRUE(verify(signedPe(padding, certificateTable))) << padding << certificateTable;
            EXPECT_EQ(m_oModuleData, m_oBody);
        }
}

// An ELF file is signed from byte 0 also where PE headers are looked for.
TEST_F(ModuleSignatureTest, Verify_ElfExtraDataSize_264AcceptedAnd265Refused)
{
    const QByteArray good = signedElf();
    EXPECT_EQ(good.right(9), QByteArray("\x08\x01\0\0\0\0\0\0\xFF", 9));
    for (const bool executableHeaderMode : {false, true}) {
        EXPECT_TRUE(verify(good, executableHeaderMode));
        EXPECT_EQ(m_oModuleData, "\177ELF" + m_oBody);
        EXPECT_FALSE(verify(signedElf("x"), executableHeaderMode));
    }
    EXPECT_TRUE(m_oLog.contains("wrong  iSignatureDataSize 265"));
}

// Only the bytes outside the signed data and the block may change: the PE header apart from
// SizeOfHeaders and the certificate table entry, the padding and the table itself.
TEST_F(ModuleSignatureTest, Verify_OneByteChanged_OnlyUnsignedBytesTolerated)
{
    const QByteArray file = signedPe(3, true);
    const qsizetype blockEnd = file.size() - kTableSize - 3;
    // Flipping 0x40 also turns the certificate table's size (64) to 0.
    const std::pair<qsizetype, bool> cases[] = {
        {kPeOffset + 0x08, true}, {blockEnd + 1, true},          {blockEnd + 13, true},
        {kHeaderSize, false},     {kHeaderSize + 999, false},    {kHeaderSize + 1008, false},
        {blockEnd - 10, false},   {blockEnd - 9, false},         {blockEnd - 1, false},
        {kSizeOfHeaders, false},  {kCertificateTable + 4, false}};
    for (const auto &[offset, stillValid] : cases) {
        QByteArray changed = file;
        changed[offset] = static_cast<char>(changed[offset] ^ 0x40);
        EXPECT_EQ(verify(changed), stillValid) << "offset " << offset;
    }
}

// Cutting into the signed bytes or the block always fails. Where the marker is searched for,
// a file that merely lost its marker still verifies, and so does a PE file whose (unsigned)
// certificate table was cut short.
TEST_F(ModuleSignatureTest, Verify_EmptyMissingOrTruncated_RefusedUnlessOnlyUnsignedBytesGo)
{
    EXPECT_FALSE(ModuleReader(m_oDirectory.filePath(QStringLiteral("absent.so")), true, s_poKey->publicKey())
                     .verify());
    m_oBody = randomBytes(40);
    const QByteArray elf = signedElf();
    const QByteArray pe = signedPe(5, true);
    for (qsizetype size = 0; size < elf.size(); ++size) {
        EXPECT_FALSE(verify(elf.left(size), false)) << size;
        EXPECT_EQ(verify(elf.left(size), true), size == elf.size() - 1) << size;
    }
    for (qsizetype size = 0; size < pe.size(); ++size)
        EXPECT_EQ(verify(pe.left(size), true), size >= pe.size() - kTableSize) << size;
}

TEST_F(ModuleSignatureTest, Verify_HostileSizes_RefusedWithoutReadingOutside)
{
    // iExtraDataSize and, when given, iSignatureSize as the file states them.
    const std::pair<qint64, std::optional<qint64>> blocks[] = {
        {-1, {}}, {kMax, {}}, {kMin, {}}, {0, {}}, {8, 0}, {264, -1}, {264, kMax}, {264, kMin}};
    for (const auto &[extra, signature] : blocks) {
        QByteArray elf = signedElf(), pe = signedPe(0, true);
        for (QByteArray *file : {&elf, &pe}) {
            const qsizetype marker = file->size() - 1 - (file == &pe ? kTableSize : 0);
            file->replace(marker - 8, 8, ModuleSignatureBlock::encodeInt64(extra));
            if (signature)
                file->replace(marker - extra - 8, 8, ModuleSignatureBlock::encodeInt64(*signature));
        }
        EXPECT_FALSE(verify(elf, false)) << extra;
        EXPECT_FALSE(verify(elf, true)) << extra;
        EXPECT_FALSE(verify(pe, true)) << extra;
    }
    const std::pair<qsizetype, quint32> fields[] = {{0x3C, 0xFFFFFFF0u},
                                                    {kSizeOfHeaders, 0xFFFFFFFFu},
                                                    {kCertificateTable, 0xFFFFFF00u},
                                                    {kCertificateTable, 4}};
    for (const auto &[field, value] : fields) {
        QByteArray pe = signedPe(0, true);
        putUInt32(pe, field, value);
        EXPECT_FALSE(verify(pe, true)) << field;
    }
}

} // namespace
