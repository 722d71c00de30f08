#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A Debian package file unpacked into a temporary root (dpkg-deb -x) with its maintainer
// scripts beside it (dpkg-deb -e). The scripts run with VYR_ROOT naming that root, and the
// commands of its systemd units come with the installation's paths moved into it.
class UnpackedPackage
{
public:
    struct Run
    {
        int exitCode = -1;
        QString output; // standard output and error together
    };
    struct Command
    {
        QString program;
        QStringList arguments;
        bool ignoreFailure = false; // the unit's "-" prefix
    };

    explicit UnpackedPackage(const QString &packageFile);

    bool valid() const { return m_bValid; }
    QString root() const { return m_oDirectory.filePath(QStringLiteral("root")); }
    QString controlDir() const { return m_oDirectory.filePath(QStringLiteral("control")); }
    QString inRoot(const QString &absolutePath) const { return root() + absolutePath; }

    Run runScript(const QString &script, const QStringList &arguments) const;
    // The values of "key=" lines of a unit file inside the root, in file order.
    QStringList unitValues(const QString &unitPath, const QString &key) const;
    // The unit's first such command, its installation paths moved into the root.
    Command unitCommand(const QString &unitPath, const QString &key) const;
    // The application directory, as the dispatcher's unit names its executable.
    QString installDir() const;
    // Processes whose executable lies inside the root.
    QList<qint64> processesRunningFromRoot() const;

    static Run run(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    static constexpr char kDispatcherUnit[] = "/usr/lib/systemd/system/veltrane-dispatcher.service";
    static constexpr char kUserUnit[] = "/usr/lib/systemd/user/veltrane-server.service";

private:
    QTemporaryDir m_oDirectory;
    bool m_bValid = false;
};
