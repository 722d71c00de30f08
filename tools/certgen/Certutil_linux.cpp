#include "Certutil.h"

#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int kTimeoutMs = 30000;

QString sqlDatabase(const QString &directory)
{
    return QStringLiteral("sql:") + directory;
}
} // namespace

QString Certutil::locate()
{
    return QStandardPaths::findExecutable(QStringLiteral("certutil"));
}

Certutil::Certutil(QString program) : m_oProgram(std::move(program)) {}

Certutil::Run Certutil::createEmptyDatabase(const QString &database) const
{
    return run({QStringLiteral("-N"), QStringLiteral("--empty-password"), QStringLiteral("-d"),
                sqlDatabase(database)});
}

Certutil::Run Certutil::exportCertificate(const QString &database, const QString &nickname) const
{
    return run({QStringLiteral("-L"), QStringLiteral("-n"), nickname, QStringLiteral("-a"),
                QStringLiteral("-d"), sqlDatabase(database)});
}

Certutil::Run Certutil::addAuthority(const QString &database, const QString &nickname,
                                     const QString &certificateFile) const
{
    return run({QStringLiteral("-A"), QStringLiteral("-n"), nickname, QStringLiteral("-t"),
                QStringLiteral("C,,"), QStringLiteral("-i"), certificateFile, QStringLiteral("-d"),
                sqlDatabase(database)});
}

Certutil::Run Certutil::remove(const QString &database, const QString &nickname) const
{
    return run(
        {QStringLiteral("-D"), QStringLiteral("-n"), nickname, QStringLiteral("-d"), sqlDatabase(database)});
}

Certutil::Run Certutil::run(const QStringList &arguments) const
{
    QProcess process;
    // A database with a password would otherwise wait for one on the terminal.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(m_oProgram, arguments);
    Run result;
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.error = QStringLiteral("certutil did not finish: %1").arg(process.errorString());
        return result;
    }
    result.output = process.readAllStandardOutput();
    result.error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}
