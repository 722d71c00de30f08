#include "FileVersionLinuxImpl.h"

#include "ElfSonameReader_linux.h"
#include "logging/LogStatement.h"

#include <QFileInfo>
#include <QRegularExpression>

QString FileVersionLinuxImpl::versionOfLibraryName(const QString &fileName)
{
    static const QRegularExpression kVersioned(QStringLiteral("\\.so\\.([0-9]+(?:\\.[0-9]+)*)$"));
    const QRegularExpressionMatch match = kVersioned.match(fileName);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString FileVersionLinuxImpl::getFileVersion(const QString &path)
{
    // The link chain ends at the most specific name: libfoo.so -> libfoo.so.1 -> libfoo.so.1.2.3.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : path;
    const bool bExists = QFileInfo::exists(target);
    QString version = bExists ? versionOfLibraryName(QFileInfo(target).fileName()) : QString();
    if (version.isEmpty() && bExists) {
        if (const auto soname = ElfSonameReader::read(target))
            version = versionOfLibraryName(QString::fromUtf8(*soname));
    }
    if (version.isEmpty())
        VYR_LOG(fileVersionLogChannel(), Warning) << path << " cannot get version of this file";
    else
        VYR_LOG(fileVersionLogChannel(), Debug) << path << " version loaded properly";
    return version;
}

bool FileVersionLinuxImpl::checkIfIsLibrary(const QString &path)
{
    const QString fileName = QFileInfo(path).fileName();
    const bool bLibrary =
        fileName.endsWith(QLatin1String(".so")) || !versionOfLibraryName(fileName).isEmpty();
    VYR_LOG(fileVersionLogChannel(), Debug) << path << (bLibrary ? " is library" : " is not library");
    return bLibrary;
}

bool FileVersionLinuxImpl::checkIfIsSymLink(const QString &path)
{
    const bool bSymLink = QFileInfo(path).isSymLink();
    VYR_LOG(fileVersionLogChannel(), Debug)
        << path << (bSymLink ? " file is symlink" : " file is not symlink");
    return bSymLink;
}
