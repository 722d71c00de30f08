#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct InstalledBrowser
{
    QString desktopId; // file name of its desktop entry
    QString name;
    QString executable; // first word of Exec, as written
};

// Browsers as the desktop knows them: application entries in the WebBrowser category.
class BrowserInventory
{
public:
    // Earlier directories hide entries of the same name in later ones (user before system).
    static QList<InstalledBrowser> find(const QStringList &applicationDirs);
    static std::optional<InstalledBrowser> parseDesktopEntry(const QByteArray &content);
};
