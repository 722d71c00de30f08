#include "BrowserInventory_linux.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace {

constexpr qint64 kMaxDesktopEntrySize = 256 * 1024;

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxDesktopEntrySize)
        return {};
    return file.read(kMaxDesktopEntrySize);
}

// Exec="/opt/My Browser/browser" %U -> /opt/My Browser/browser
QString firstExecWord(const QString &exec)
{
    const QString trimmed = exec.trimmed();
    if (trimmed.startsWith(QLatin1Char('"'))) {
        const qsizetype end = trimmed.indexOf(QLatin1Char('"'), 1);
        return end > 0 ? trimmed.mid(1, end - 1) : QString();
    }
    return trimmed.section(QLatin1Char(' '), 0, 0);
}

} // namespace

std::optional<InstalledBrowser> BrowserInventory::parseDesktopEntry(const QByteArray &content)
{
    bool bInMainGroup = false;
    QString name, exec, categories, type;
    bool bHidden = false;
    for (const QByteArray &rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            bInMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!bInMainGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name"))
            name = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("Categories"))
            categories = value;
        else if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Hidden"))
            bHidden = value == QLatin1String("true");
    }
    const bool bBrowser = categories.split(QLatin1Char(';')).contains(QLatin1String("WebBrowser"));
    if (!bBrowser || bHidden || type != QLatin1String("Application") || firstExecWord(exec).isEmpty())
        return std::nullopt;
    return InstalledBrowser{QString(), name, firstExecWord(exec)};
}

QList<InstalledBrowser> BrowserInventory::find(const QStringList &applicationDirs)
{
    QList<InstalledBrowser> browsers;
    QSet<QString> seenIds;
    for (const QString &dirPath : applicationDirs) {
        const QStringList entries =
            QDir(dirPath).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        for (const QString &entry : entries) {
            if (seenIds.contains(entry))
                continue;
            seenIds.insert(entry);
            if (auto browser = parseDesktopEntry(readSmallFile(dirPath + QLatin1Char('/') + entry))) {
                browser->desktopId = entry;
                browsers.append(*browser);
            }
        }
    }
    return browsers;
}
