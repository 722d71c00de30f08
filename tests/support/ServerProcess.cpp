#include "ServerProcess.h"

#include "TestAccount.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
QString builtAppDir()
{
    return qEnvironmentVariable("VYR_APP_DIR");
}
} // namespace

QString logMessageOf(const QString &line, QString *level)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} \[\d+:\d+\] (\w+) (.*)$)"));
    const QRegularExpressionMatch match = shape.match(line);
    if (!match.hasMatch())
        return {};
    if (level)
        *level = match.captured(1);
    return match.captured(2);
}

ServerProcess::ServerProcess()
{
    QFile::copy(builtAppDir() + "/VeltraneCryptoServer", appDir() + "/VeltraneCryptoServer");
    QDir(appDir()).mkpath(QStringLiteral("xdg/config"));
    QDir(appDir()).mkpath(QStringLiteral("xdg/data"));
    QDir(appDir()).mkpath(QStringLiteral("xdg/runtime"));
    QFile::setPermissions(appDir() + "/xdg/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

ServerProcess::~ServerProcess()
{
    // An orderly end first, so a sanitizer build reports leaks and shutdown faults.
    if (m_oProcess.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(m_oProcess.processId()), SIGTERM);
        if (!m_oProcess.waitForFinished(15000)) {
            ADD_FAILURE() << "The server did not end within 15 s of SIGTERM";
            ::kill(static_cast<pid_t>(m_oProcess.processId()), SIGKILL);
            m_oProcess.waitForFinished(10000);
        } else if (m_oProcess.exitStatus() != QProcess::NormalExit || m_oProcess.exitCode() != 0) {
            ADD_FAILURE() << "The server ended on SIGTERM with exit code " << m_oProcess.exitCode()
                          << (m_oProcess.exitStatus() == QProcess::NormalExit ? "" : " (crashed)");
        }
    }
    const QByteArray report = sanitizerReport(standardError());
    if (!report.isEmpty())
        ADD_FAILURE() << "The server reported:\n" << report.toStdString();
}

QByteArray sanitizerReport(const QByteArray &standardError)
{
    static const QByteArrayList markers{"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"};
    for (const QByteArray &marker : markers) {
        const qsizetype at = standardError.indexOf(marker);
        if (at >= 0)
            return standardError.mid(qMax<qsizetype>(0, standardError.lastIndexOf('\n', at) + 1), 4000);
    }
    return {};
}

void ServerProcess::useExecutable(const QString &path)
{
    const QString target = appDir() + "/VeltraneCryptoServer";
    QFile::remove(target);
    QFile::copy(path, target);
}

void ServerProcess::setIniValue(const QString &groupAndKey, const QString &value)
{
    m_oIniValues.insert(groupAndKey, value);
}

void ServerProcess::writeIni() const
{
    const QString path = appDir() + "/VeltraneCryptoProvider.ini";
    QFile::remove(path);
    QFile::copy(builtAppDir() + "/VeltraneCryptoProvider.ini", path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
    QSettings ini(path, QSettings::IniFormat);
    for (auto it = m_oIniValues.cbegin(); it != m_oIniValues.cend(); ++it)
        ini.setValue(it.key(), it.value());
    ini.sync();
}

// The checkout may be closed to other accounts: a server run as one gets its own copy of
// the leak suppressions.
void ServerProcess::useReadableSuppressions(QProcessEnvironment &environment) const
{
    static const QRegularExpression file(QStringLiteral("suppressions=([^:]+)"));
    QString options = environment.value(QStringLiteral("LSAN_OPTIONS"));
    const QRegularExpressionMatch match = file.match(options);
    if (!match.hasMatch())
        return;
    const QString copy = appDir() + "/lsan.supp";
    QFile::copy(match.captured(1), copy);
    options.replace(match.capturedStart(1), match.capturedLength(1), copy);
    environment.insert(QStringLiteral("LSAN_OPTIONS"), options);
}

bool ServerProcess::start(const QStringList &arguments)
{
    if (m_bWriteIni)
        writeIni();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), appDir() + "/xdg/config");
    environment.insert(QStringLiteral("XDG_DATA_HOME"), appDir() + "/xdg/data");
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), appDir() + "/xdg/runtime");
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (m_poAccount) {
        useReadableSuppressions(environment);
        environment.insert(QStringLiteral("HOME"), m_poAccount->home());
        environment.insert(QStringLiteral("USER"), m_poAccount->name());
        QFile::setPermissions(appDir(), QFile::permissions(appDir()) | QFile::ReadOther | QFile::ExeOther);
        m_poAccount->chownTree(appDir());
        const uid_t uid = m_poAccount->uid();
        const gid_t gid = m_poAccount->gid();
        m_oProcess.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    }
    m_oProcess.setProcessEnvironment(environment);
    m_oProcess.setProgram(appDir() + "/VeltraneCryptoServer");
    m_oProcess.setArguments(arguments);
    m_oProcess.setProcessChannelMode(QProcess::SeparateChannels);
    m_oProcess.start();
    return m_oProcess.waitForStarted(10000);
}

int ServerProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_oProcess.state() != QProcess::NotRunning &&
        !m_oProcess.waitForFinished(static_cast<int>(timeout.count())))
        return -1;
    return m_oProcess.exitStatus() == QProcess::NormalExit ? m_oProcess.exitCode() : -1;
}

int ServerProcess::stopWithSignal(int signalNumber)
{
    ::kill(static_cast<pid_t>(m_oProcess.processId()), signalNumber);
    return waitForExit();
}

qint64 ServerProcess::pid() const
{
    return m_oProcess.processId();
}

bool ServerProcess::isRunning() const
{
    return m_oProcess.state() != QProcess::NotRunning;
}

QString ServerProcess::logFilePath() const
{
    return appDir() + "/xdg/config/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log";
}

QString ServerProcess::logText() const
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList ServerProcess::logLines() const
{
    return logText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool ServerProcess::waitForLogLine(const QString &fragment, std::chrono::milliseconds timeout) const
{
    return waitUntil([&] { return logText().contains(fragment); }, timeout);
}

QByteArray ServerProcess::standardError()
{
    m_oStandardError += m_oProcess.readAllStandardError();
    return m_oStandardError;
}

bool ServerProcess::provisionCertificates()
{
    const QString source = provisionedCertificatesDir();
    if (source.isEmpty())
        return false;
    QDir(appDir()).mkpath(QStringLiteral("certs"));
    bool copied = true;
    for (const char *name : {"VYR-cert-server.pem", "VYR-key-server.pem", "VYR-ca.pem"})
        copied = QFile::copy(source + "/certs/" + name, appDir() + "/certs/" + name) && copied;
    return copied;
}

quint16 ServerProcess::waitForListeningPort(std::chrono::milliseconds timeout) const
{
    static const QRegularExpression listening(QStringLiteral("Listening on port (\\d+)"));
    quint16 port = 0;
    waitUntil(
        [&] {
            const QRegularExpressionMatch match = listening.match(logText());
            port = match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
            return port != 0;
        },
        timeout);
    return port;
}

int ServerProcess::threadCount() const
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/%1/task").arg(pid())).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

QString provisionedCertificatesDir()
{
    const QString directory = QStringLiteral(VYR_TEST_CERT_DIR);
    return QFile::exists(directory + "/certs/VYR-key-server.pem") ? directory : QString();
}

namespace {
bool copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    bool copied = true;
    for (const QFileInfo &entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + entry.fileName();
        copied =
            (entry.isDir() ? copyTree(entry.filePath(), target) : QFile::copy(entry.filePath(), target)) &&
            copied;
    }
    return copied;
}
} // namespace

bool ServerProcess::installModules()
{
    const QString target = appDir() + "/modules";
    const bool copied =
        copyTree(QStringLiteral(VYR_TEST_MODULE_DIR), target) && copyTree(builtAppDir() + "/dlls", target);
    setIniValue("dllLoader/dirPath", "modules");
    return copied;
}
