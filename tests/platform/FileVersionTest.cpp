// Library versions from file names and from the ELF SONAME.
#include "PlatformTestSupport.h"
#include "platform/ElfSonameReader_linux.h"
#include "platform/FileVersionLinuxImpl.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

QString libraryOf(const void *symbol)
{
    Dl_info info{};
    return dladdr(symbol, &info) && info.dli_fname ? QString::fromLocal8Bit(info.dli_fname) : QString();
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
}

// A minimal shared object: null section, .dynstr, .dynamic (DT_NEEDED, DT_SONAME, DT_NULL).
class ElfBuilder
{
public:
    static constexpr int kStrtabAt = 0x100, kDynamicAt = 0x200, kSectionsAt = 0x300;

    ElfBuilder(bool is64, bool bigEndian) : m_b64(is64), m_bBig(bigEndian) {}

    QByteArray build(const QByteArray &soname) const
    {
        const int word = m_b64 ? 8 : 4;
        const int entrySize = m_b64 ? 64 : 40;
        QByteArray elf(kSectionsAt + 3 * entrySize, '\0');
        elf.replace(0, 4, "\x7f" "ELF");
        elf[4] = m_b64 ? 2 : 1;
        elf[5] = m_bBig ? 2 : 1;
        elf[6] = 1;
        put(elf, m_b64 ? 0x28 : 0x20, word, kSectionsAt);
        put(elf, m_b64 ? 0x3A : 0x2E, 2, entrySize);
        put(elf, m_b64 ? 0x3C : 0x30, 2, 3);
        const QByteArray strings = QByteArray("\0libc.so.6\0", 11) + soname + '\0';
        elf.replace(kStrtabAt, strings.size(), strings);
        const quint64 dynamic[] = {1, 1, 14, 11, 0, 0};
        for (int i = 0; i < 6; ++i)
            put(elf, kDynamicAt + i * word, word, dynamic[i]);
        section(elf, 1, 3, kStrtabAt, strings.size(), 0);
        section(elf, 2, 6, kDynamicAt, 6 * word, 1);
        return elf;
    }

    void put(QByteArray &elf, int at, int width, quint64 value) const
    {
        uchar *data = reinterpret_cast<uchar *>(elf.data()) + at;
        switch (width) {
        case 2: m_bBig ? qToBigEndian<quint16>(quint16(value), data) : qToLittleEndian<quint16>(quint16(value), data); break;
        case 4: m_bBig ? qToBigEndian<quint32>(quint32(value), data) : qToLittleEndian<quint32>(quint32(value), data); break;
        default: m_bBig ? qToBigEndian<quint64>(value, data) : qToLittleEndian<quint64>(value, data);
        }
    }

    // Offset of a field of section header `index`: type, offset, size, link.
    int fieldAt(int index, char field) const
    {
        const int base = kSectionsAt + index * (m_b64 ? 64 : 40);
        switch (field) {
        case 't': return base + 4;
        case 'o': return base + (m_b64 ? 0x18 : 0x10);
        case 's': return base + (m_b64 ? 0x20 : 0x14);
        default: return base + (m_b64 ? 0x28 : 0x18);
        }
    }

private:
    void section(QByteArray &elf, int index, quint32 type, quint64 offset, quint64 size, quint32 link) const
    {
        const int word = m_b64 ? 8 : 4;
        put(elf, fieldAt(index, 't'), 4, type);
        put(elf, fieldAt(index, 'o'), word, offset);
        put(elf, fieldAt(index, 's'), word, size);
        put(elf, fieldAt(index, 'l'), 4, link);
    }

    bool m_b64, m_bBig;
};

struct ElfKind
{
    bool is64, bigEndian;
};

void PrintTo(const ElfKind &kind, std::ostream *out)
{
    *out << (kind.is64 ? "elf64" : "elf32") << (kind.bigEndian ? "_be" : "_le");
}

class ElfSonameTest : public ::testing::TestWithParam<ElfKind>
{
protected:
    QTemporaryDir m_oDir;
    ElfBuilder m_oBuilder{GetParam().is64, GetParam().bigEndian};
};

TEST_P(ElfSonameTest, Read_CraftedObject_Soname)
{
    const QString path = writeFile(m_oDir, QStringLiteral("libcrafted.so"), m_oBuilder.build("libvyr.so.4.5"));
    EXPECT_EQ(ElfSonameReader::read(path), std::optional<QByteArray>("libvyr.so.4.5"));
    EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(path), QStringLiteral("4.5"));
}

TEST_P(ElfSonameTest, Read_EveryTruncation_NoSonameNoCrash)
{
    const QByteArray full = m_oBuilder.build("libvyr.so.4.5");
    for (qsizetype length = 0; length < full.size(); ++length) {
        const QString path = writeFile(m_oDir, QStringLiteral("cut.so"), full.left(length));
        EXPECT_EQ(ElfSonameReader::read(path), std::nullopt) << "length " << length;
    }
}

TEST_P(ElfSonameTest, Read_CorruptFields_NoSoname)
{
    const ElfBuilder &b = m_oBuilder;
    const int word = GetParam().is64 ? 8 : 4;
    const std::function<void(QByteArray &)> corruptions[] = {
        [&](QByteArray &e) { b.put(e, GetParam().is64 ? 0x28 : 0x20, word, ~quint64(0) >> (64 - 8 * word)); }, // section table offset
        [&](QByteArray &e) { b.put(e, GetParam().is64 ? 0x3C : 0x30, 2, 0xFFFF); },                          // section count
        [&](QByteArray &e) { b.put(e, GetParam().is64 ? 0x3A : 0x2E, 2, 4); },                               // entry size
        [&](QByteArray &e) { b.put(e, b.fieldAt(2, 'l'), 4, 77); },                                          // link out of range
        [&](QByteArray &e) { b.put(e, b.fieldAt(2, 's'), word, ~quint64(0) >> (64 - 8 * word)); },           // dynamic size
        [&](QByteArray &e) { b.put(e, b.fieldAt(1, 'o'), word, 0x7FFFFFF0); },                                // string table offset
        [&](QByteArray &e) { b.put(e, ElfBuilder::kDynamicAt + 3 * word, word, 500); },                      // name beyond strings
        [&](QByteArray &e) { b.put(e, b.fieldAt(1, 's'), word, 15); },                                       // name without its NUL
        [&](QByteArray &e) { e[5] = 3; },                                                                    // unknown byte order
    };
    for (size_t i = 0; i < std::size(corruptions); ++i) {
        QByteArray elf = m_oBuilder.build("libvyr.so.4.5");
        corruptions[i](elf);
        const QString path = writeFile(m_oDir, QStringLiteral("corrupt.so"), elf);
        EXPECT_EQ(ElfSonameReader::read(path), std::nullopt) << "corruption " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ElfSonameTest,
                         ::testing::Values(ElfKind{true, false}, ElfKind{true, true}, ElfKind{false, false}, ElfKind{false, true}));

TEST(FileVersionTest, GetFileVersion_SystemLibraries_VersionOfTheirFiles)
{
    const LogCapture log;
    const QString libc = libraryOf(reinterpret_cast<const void *>(&dladdr));
    ASSERT_FALSE(libc.isEmpty());
    EXPECT_EQ(ElfSonameReader::read(libc), std::optional<QByteArray>("libc.so.6"));
    FileVersionLinuxImpl fileVersion;
    EXPECT_EQ(fileVersion.getFileVersion(libc), QStringLiteral("6"));
    // libQt6Core.so.6 links to the file named with the full release.
    const QString qtCore = libraryOf(reinterpret_cast<const void *>(&qVersion));
    EXPECT_EQ(fileVersion.getFileVersion(qtCore), QString::fromLatin1(qVersion()));
    EXPECT_TRUE(log.contains(QStringLiteral("[fileVersion]:FileVersionLinuxImpl::getFileVersion: ") + libc +
                             QStringLiteral(" version loaded properly")));
}

TEST(FileVersionTest, GetFileVersion_LibraryWithoutVersionedName_VersionFromSoname)
{
    QTemporaryDir dir;
    const QString libc = libraryOf(reinterpret_cast<const void *>(&dladdr));
    const QString copy = dir.filePath(QStringLiteral("libcopy.so"));
    ASSERT_TRUE(QFile::copy(libc, copy));
    EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(copy), QStringLiteral("6"));
}

TEST(FileVersionTest, GetFileVersion_VersionedNameAndLinks_VersionFromName)
{
    const LogCapture log;
    QTemporaryDir dir;
    const QString real = writeFile(dir, QStringLiteral("libfoo.so.1.2.3"), "not an ELF file");
    ASSERT_TRUE(QFile::link(real, dir.filePath(QStringLiteral("libfoo.so"))));
    FileVersionLinuxImpl fileVersion;
    EXPECT_EQ(fileVersion.getFileVersion(real), QStringLiteral("1.2.3"));
    EXPECT_EQ(fileVersion.getFileVersion(dir.filePath(QStringLiteral("libfoo.so"))), QStringLiteral("1.2.3"));
    EXPECT_EQ(fileVersion.getFileVersion(writeFile(dir, QStringLiteral("libbar.so"), "not an ELF file")), QString());
    EXPECT_EQ(fileVersion.getFileVersion(dir.filePath(QStringLiteral("libmissing.so.2"))), QString());
    EXPECT_TRUE(log.containsText(QStringLiteral("libbar.so cannot get version of this file")));
}

TEST(FileVersionTest, GetFileVersion_TruncatedSystemLibrary_NoVersionNoCrash)
{
    QTemporaryDir dir;
    QFile libc(libraryOf(reinterpret_cast<const void *>(&dladdr)));
    ASSERT_TRUE(libc.open(QIODevice::ReadOnly));
    const QByteArray content = libc.readAll();
    FileVersionLinuxImpl fileVersion;
    for (const qsizetype length : {qsizetype(0), qsizetype(4), qsizetype(63), qsizetype(64), qsizetype(4096),
                                   content.size() / 2, content.size() - 1}) {
        const QString path = writeFile(dir, QStringLiteral("libtrunc.so"), content.left(length));
        EXPECT_EQ(fileVersion.getFileVersion(path), QString()) << "length " << length;
    }
}

struct NameCase
{
    const char *fileName;
    bool library;
    const char *version;
};

void PrintTo(const NameCase &c, std::ostream *out)
{
    *out << c.fileName;
}

class LibraryNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(LibraryNameTest, LibraryName_Suffix_LibraryAndVersion)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(GetParam().fileName));
    EXPECT_EQ(FileVersionLinuxImpl().checkIfIsLibrary(path), GetParam().library);
    EXPECT_EQ(FileVersionLinuxImpl::versionOfLibraryName(QString::fromLatin1(GetParam().fileName)),
              QString::fromLatin1(GetParam().version));
}

INSTANTIATE_TEST_SUITE_P(Names, LibraryNameTest,
                         ::testing::Values(NameCase{"libx.so", true, ""}, NameCase{"libx.so.1", true, "1"},
                                           NameCase{"libx.so.1.22.333", true, "1.22.333"}, NameCase{"libx.so.1.a", false, ""},
                                           NameCase{"libx.a", false, ""}, NameCase{"x.so.txt", false, ""},
                                           NameCase{"plugin.dll", false, ""}));

TEST(FileVersionTest, CheckIfIsSymLink_LinkAndFile_Told)
{
    QTemporaryDir dir;
    const QString real = writeFile(dir, QStringLiteral("libz.so.1"), "x");
    ASSERT_TRUE(QFile::link(real, dir.filePath(QStringLiteral("libz.so"))));
    FileVersionLinuxImpl fileVersion;
    EXPECT_TRUE(fileVersion.checkIfIsSymLink(dir.filePath(QStringLiteral("libz.so"))));
    EXPECT_FALSE(fileVersion.checkIfIsSymLink(real));
}

} // namespace
