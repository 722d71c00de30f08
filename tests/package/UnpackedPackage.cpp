#include "UnpackedPackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

UnpackedPackage::UnpackedPackage(const QString &packageFile)
{
    // Other accounts run the unpacked programs, so the way down to them must be open.
    QFile::setPermissions(m_oDirectory.path(), QFile::permissions(m_oDirectory.path()) | QFile::ReadOther |
                                                   QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    m_bValid = m_oDirectory.isValid() &&
               run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), packageFile, root()}).exitCode == 0 &&
               run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), packageFile, controlDir()}).exitCode == 0;
}

UnpackedPackage::Run UnpackedPackage::run(const QString &program, const QStringList &arguments,
                                          const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("did not finish: ") + program;
        return result;
    }
    result.output = QString::fromUtf8(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

UnpackedPackage::Run UnpackedPackage::runScript(const QString &script, const QStringList &arguments) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VYR_ROOT"), root());
    return run(controlDir() + QLatin1Char('/') + script, arguments, environment);
}

QStringList UnpackedPackage::unitValues(const QString &unitPath, const QString &key) const
{
    QFile unit(inRoot(unitPath));
    if (!unit.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList values;
    const QString prefix = key + QLatin1Char('=');
    for (const QByteArray &line : unit.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(prefix))
            values.append(text.mid(prefix.size()));
    }
    return values;
}

UnpackedPackage::Command UnpackedPackage::unitCommand(const QString &unitPath, const QString &key) const
{
    QString text = unitValues(unitPath, key).value(0);
    Command command;
    command.ignoreFailure = text.startsWith(QLatin1Char('-'));
    if (command.ignoreFailure)
        text.remove(0, 1);
    const QString installation = installDir();
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString &word : words) {
        if (!installation.isEmpty() && word.startsWith(installation + QLatin1Char('/')))
            word.prepend(root());
    }
    command.program = words.value(0);
    command.arguments = words.mid(1);
    return command;
}

QString UnpackedPackage::installDir() const
{
    const QString executable = unitValues(QLatin1String(kDispatcherUnit), QStringLiteral("ExecStart"))
                                   .value(0)
                                   .section(QLatin1Char(' '), 0, 0);
    return executable.isEmpty() ? QString() : QFileInfo(executable).path();
}

QList<qint64> UnpackedPackage::processesRunningFromRoot() const
{
    QList<qint64> pids;
    const QString prefix = root() + QLatin1Char('/');
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && QFileInfo(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")).symLinkTarget().startsWith(prefix))
            pids.append(pid);
    }
    return pids;
}
