// Library versions from file names and from the ELF SONAME.
#include "PlatformTestSupport.h"
#include "platform/ElfSonameReader_linux.h"
#include "platform/FileVersionLinuxImpl.h"

#include <dlfcn.h>

namespace {

QString libraryOf(const void *symbol)
{
    Dl_info info{};
    return dladdr(symbol, &info) && info.dli_fname ? QString::fromLocal8Bit(info.dli_fname) : QString();
}

QByteArray libcBytes()
{
    QFile libc(libraryOf(reinterpret_cast<const void *>(&dladdr)));
    return libc.open(QIODevice::ReadOnly) ? libc.readAll() : QByteArray();
}

TEST(FileVersionTest, GetFileVersion_SystemLibraries_SonameOrFullReleaseName)
{
    const QString libc = libraryOf(reinterpret_cast<const void *>(&dladdr));
    EXPECT_EQ(ElfSonameReader::read(libc), std::optional<QByteArray>("libc.so.6"));
    EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(libc), QStringLiteral("6"));
    // libQt6Core.so.6 links to the file named with the full release.
    const QString qtCore = libraryOf(reinterpret_cast<const void *>(&qVersion));
    EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(qtCore), QString::fromLatin1(qVersion()));
    QTemporaryDir dir;
    writeFile(dir.filePath("libcopy.so"), libcBytes()); // no version in the name
    EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(dir.filePath("libcopy.so")), QStringLiteral("6"));
}

TEST(FileVersionTest, GetFileVersion_VersionedNameAndLinks_VersionFromName)
{
    QTemporaryDir dir;
    for (const char *name : {"libfoo.so.1.2.3", "libbar.so", "libbaz.so.1.a"})
        writeFile(dir.filePath(name), "not an ELF file");
    ASSERT_TRUE(QFile::link(dir.filePath("libfoo.so.1.2.3"), dir.filePath("libfoo.so")));
    const struct
    {
        const char *name, *version;
    } cases[] = {{"libfoo.so.1.2.3", "1.2.3"},
                 {"libfoo.so", "1.2.3"},
                 {"libbar.so", ""},
                 {"libbaz.so.1.a", ""},
                 {"libmissing.so.2", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(dir.filePath(c.name)), QString::fromLatin1(c.version))
            << c.name;
}

TEST(FileVersionTest, GetFileVersion_TruncatedElf_NoVersionNoCrash)
{
    const QByteArray content = libcBytes();
    ASSERT_GT(content.size(), 4096);
    QTemporaryDir dir;
    const QString path = dir.filePath("libtruncated.so");
    for (const qsizetype length : {qsizetype(0), qsizetype(4), qsizetype(63), qsizetype(64), qsizetype(4096),
                                   content.size() / 2, content.size() - 1}) {
        writeFile(path, content.left(length));
        EXPECT_EQ(ElfSonameReader::read(path), std::nullopt) << "length " << length;
        EXPECT_EQ(FileVersionLinuxImpl().getFileVersion(path), QString()) << "length " << length;
    }
}

} // namespace
