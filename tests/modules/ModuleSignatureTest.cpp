#include "ModuleTestSupport.h"
#include "modules/ModuleReader.h"
#include "modules/ModuleSignatureBlock.h"
#include "modules/VerifiedModules.h"
#include "support/ProgramRun.h"
#include "support/QtPrinters.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr quint32 kHeaderSize = 0x200;
constexpr qsizetype kPeOffset = 0x40;
constexpr qsizetype kSizeOfHeaders = kPeOffset + 0x54;
constexpr qsizetype kCertificateTable = kPeOffset + 0x98; // position, then size
constexpr qsizetype kTableSize = 64;
// Zero bytes the signing tool adds after the marker of a PE file whose body size is 4 mod 8.
constexpr qsizetype kPadding = 3;

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

// A PE certificate table appended after signing, as a code-signing step would: the header
// entry and the table are the bytes the module signature leaves out.
QByteArray withCertificateTable(QByteArray file)
{
    putUInt32(file, kCertificateTable, static_cast<quint32>(file.size()));
    putUInt32(file, kCertificateTable + 4, kTableSize);
    return file + QByteArray(24, '\xFF') + randomBytes(kTableSize - 24);
}

// Module files signed by vyr-sign-module with the build's key, as the build signs modules,
// and judged by the reader with the key compiled into the server.
class ModuleSignatureTest : public ::testing::Test
{
protected:
    // "@name" stands for the file of that name in the test's directory.
    ProgramRun run(const QString &program, QStringList arguments) const
    {
        for (QString &argument : arguments)
            if (argument.startsWith('@'))
                argument = m_oDirectory.filePath(argument.mid(1));
        return runProgram(program, arguments);
    }
    ProgramRun tool(const QStringList &arguments) const
    {
        return run(QStringLiteral(VYR_SIGN_MODULE_TOOL), arguments);
    }
    QByteArray signedByTool(const QByteArray &file) const
    {
        EXPECT_TRUE(writeWholeFile(m_oDirectory.filePath("signing.so"), file));
        const ProgramRun signing = tool({"--key", VYR_BUILD_PRIVATE_KEY, "@signing.so"});
        EXPECT_EQ(signing.exitCode, 0) << signing.output.toStdString();
        return readWholeFile(m_oDirectory.filePath("signing.so"));
    }
    // 32-bit PE headers, then the body: signed after the headers and padded to octawords.
    QByteArray signedPe() const
    {
        QByteArray headers(kHeaderSize, '\0');
        headers.replace(0, 2, "MZ");
        putUInt32(headers, 0x3C, kPeOffset);
        headers.replace(kPeOffset, 4, QByteArray("PE\0\0", 4));
        putUInt32(headers, kSizeOfHeaders, kHeaderSize);
        return signedByTool(headers + m_oBody);
    }
    // An ELF shared object is signed from byte 0 and ends with the marker.
    QByteArray signedElf() const { return signedByTool("\177ELF" + m_oBody); }
    bool verify(const QByteArray &file, bool executableHeaderMode = true)
    {
        const QString path = m_oDirectory.filePath(QStringLiteral("module.so"));
        EXPECT_TRUE(writeWholeFile(path, file));
        ModuleReader reader(path, executableHeaderMode);
        const bool verified = reader.verify();
        m_oModuleData = reader.moduleData();
        return verified;
    }

    QTemporaryDir m_oDirectory;
    QByteArray m_oBody = randomBytes(1004);
    QByteArray m_oModuleData;
};

TEST_F(ModuleSignatureTest, Verify_EveryPaddingWithAndWithoutCertificateTable_SignedBytesFound)
{
    for (int extra = 0; extra < 8; ++extra) {
        m_oBody = randomBytes(1000 + extra);
        const QByteArray pe = signedPe();
        EXPECT_EQ(pe.size() % 8, 0);
        for (const QByteArray &file : {pe, withCertificateTable(pe)}) {
            EXPECT_TRUE(verify(file)) << extra;
            EXPECT_EQ(m_oModuleData, m_oBody);
        }
    }
}

// An ELF file is signed from byte 0 also where PE headers are looked for.
TEST_F(ModuleSignatureTest, Verify_ElfExtraDataSize_264AcceptedAnd265Refused)
{
    const QByteArray good = signedElf();
    // The same signature with one byte more: 8 + 257 bytes of extra data.
    const QByteArray data = good.chopped(8 + 256 + 8 + 1);
    const QByteArray longer = data + ModuleSignatureBlock::compose(good.mid(data.size() + 8, 256) + 'x');
    for (const bool executableHeaderMode : {false, true}) {
        EXPECT_TRUE(verify(good, executableHeaderMode));
        EXPECT_EQ(m_oModuleData, "\177ELF" + m_oBody);
        EXPECT_FALSE(verify(longer, executableHeaderMode));
    }
}

// Only the bytes outside the signed data and the block may change: the PE header apart from
// SizeOfHeaders and the certificate table entry, the padding and the table itself.
TEST_F(ModuleSignatureTest, Verify_OneByteChanged_OnlyUnsignedBytesTolerated)
{
    const QByteArray file = withCertificateTable(signedPe());
    const qsizetype body = m_oBody.size(), blockEnd = file.size() - kTableSize - kPadding;
    // Flipping 0x40 also turns the certificate table's size (64) to 0.
    const std::pair<qsizetype, bool> cases[] = {
        {kPeOffset + 0x08, true},        {blockEnd + 1, true},
        {blockEnd + 13, true},           {kHeaderSize, false},
        {kHeaderSize + body - 1, false}, {kHeaderSize + body + 8, false},
        {blockEnd - 10, false},          {blockEnd - 9, false},
        {blockEnd - 1, false},           {kSizeOfHeaders, false},
        {kCertificateTable + 4, false}};
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
    EXPECT_FALSE(ModuleReader(m_oDirectory.filePath(QStringLiteral("absent.so")), true).verify());
    m_oBody = randomBytes(44);
    const QByteArray elf = signedElf();
    const QByteArray pe = withCertificateTable(signedPe());
    for (qsizetype size = 0; size < elf.size(); ++size) {
        EXPECT_FALSE(verify(elf.left(size), false)) << size;
        EXPECT_EQ(verify(elf.left(size), true), size == elf.size() - 1) << size;
    }
    for (qsizetype size = 0; size < pe.size(); ++size)
        EXPECT_EQ(verify(pe.left(size), true), size >= pe.size() - kTableSize) << size;
}

TEST_F(ModuleSignatureTest, Verify_HostileSizes_RefusedWithoutReadingOutside)
{
    constexpr qint64 kMax = std::numeric_limits<qint64>::max(), kMin = std::numeric_limits<qint64>::min();
    const QByteArray signedElfFile = signedElf(), signedPeFile = withCertificateTable(signedPe());
    // iExtraDataSize and, when given, iSignatureSize as the file states them.
    const std::pair<qint64, std::optional<qint64>> blocks[] = {
        {-1, {}}, {kMax, {}}, {kMin, {}}, {0, {}}, {8, 0}, {264, -1}, {264, kMax}, {264, kMin}};
    for (const auto &[extra, signature] : blocks) {
        QByteArray elf = signedElfFile, pe = signedPeFile;
        for (QByteArray *file : {&elf, &pe}) {
            const qsizetype marker = file->size() - 1 - (file == &pe ? kTableSize + kPadding : 0);
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
        QByteArray pe = signedPeFile;
        putUInt32(pe, field, value);
        EXPECT_FALSE(verify(pe, true)) << field;
    }
}

// The server remembers module files it verified; one changed afterwards, in place or replaced
// under its name, is verified again and refused when its signature no longer matches.
TEST_F(ModuleSignatureTest, VerifiedModules_FileChangedAfterPassing_VerifiedAgainAndRefused)
{
    const QString path = m_oDirectory.filePath(QStringLiteral("kept.so"));
    const QByteArray good = signedElf();
    QByteArray changed = good;
    changed[8] = static_cast<char>(changed[8] ^ 0x40); // signed, and the size stays
    for (const bool replaced : {false, true}) {
        ASSERT_TRUE(writeWholeFile(path, good));
        EXPECT_TRUE(VerifiedModules::verify(path));
        EXPECT_TRUE(VerifiedModules::verify(path));
        if (replaced) {
            ASSERT_TRUE(writeWholeFile(path + ".new", changed));
            ASSERT_EQ(
                ::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()),
                0);
        } else {
            ASSERT_TRUE(writeWholeFile(path, changed));
        }
        EXPECT_FALSE(VerifiedModules::verify(path)) << replaced;
    }
}

// The tool checks against the key built into this build unless given another; it signs a
// file once, and a refusal leaves the file as it was.
TEST_F(ModuleSignatureTest, SignModuleTool_VerifyKeysAndRefusals_ExitCodesAndFileKept)
{
    // A private key where a public one is asked for, and of the wrong size.
    ASSERT_EQ(run(QStringLiteral(VYR_OPENSSL_EXECUTABLE),
                  {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", "@small.pem"})
                  .exitCode,
              0);
    ASSERT_TRUE(QFile::copy(testModulePath("Unsigned.so"), m_oDirectory.filePath("Copy.so")));
    ASSERT_TRUE(writeWholeFile(m_oDirectory.filePath("Signed.so"), signedElf()));
    const std::pair<QStringList, int> cases[] = {
        {{"--verify", "@Signed.so"}, 0},
        {{"--verify", "--pubkey", "@small.pem", "@Signed.so"}, 1},
        {{"--verify", "@Copy.so"}, 1},
        {{"--key", VYR_BUILD_PRIVATE_KEY, "@Signed.so"}, 1},
        {{"--key", VYR_BUILD_PUBLIC_KEY, "@Copy.so"}, 1},
        {{"--key", "@small.pem", "@Copy.so"}, 1},
    };
    const auto modules = [this] {
        return readWholeFile(m_oDirectory.filePath("Copy.so")) +
               readWholeFile(m_oDirectory.filePath("Signed.so"));
    };
    const QByteArray before = modules();
    for (const auto &[arguments, exitCode] : cases) {
        const ProgramRun result = tool(arguments);
        EXPECT_EQ(result.exitCode, exitCode)
            << arguments.join(' ').toStdString() << result.output.toStdString();
    }
    EXPECT_EQ(modules(), before);
}

} // namespace
