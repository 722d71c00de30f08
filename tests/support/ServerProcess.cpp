#include "ServerProcess.h"

#include "ProgramRun.h"
#include "TestAccount.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>

namespace {
QString builtAppDir()
{
    return qEnvironmentVariable("VYR_APP_DIR");
}

// The first sanitizer report in a server's standard error (from its first line), or empty.
QByteArray sanitizerReport(const QByteArray &standardError)
{
    for (const char *marker : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
        const qsizetype at = standardError.indexOf(marker);
        if (at >= 0)
            return standardError.mid(standardError.lastIndexOf('\n', at) + 1, 4000);
    }
    return {};
}
} // namespace

ServerProcess::ServerProcess()
{
    QFile::copy(builtAppDir() + "/VeltraneCryptoServer", appDir() + "/VeltraneCryptoServer");
    for (const char *directory : {"xdg/config", "xdg/data", "xdg/runtime"})
        QDir(appDir()).mkpath(QString::fromLatin1(directory));
    QFile::setPermissions(appDir() + "/xdg/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Made once per test run by the e2e_certificates fixture.
    if (runProgram("cp", {"-R", QStringLiteral(VYR_TEST_CERT_DIR "/certs"), appDir()}).exitCode != 0)
        ADD_FAILURE() << "No certificates in " VYR_TEST_CERT_DIR;
}

ServerProcess::~ServerProcess()
{
    // An orderly end first, so a sanitizer build reports leaks and shutdown faults.
    if (isRunning()) {
        ::kill(static_cast<pid_t>(m_oProcess.processId()), SIGTERM);
        if (!m_oProcess.waitForFinished(15000)) {
            ADD_FAILURE() << "The server did not end within 15 s of SIGTERM";
            m_oProcess.kill();
            m_oProcess.waitForFinished(10000);
        } else if (m_oProcess.exitStatus() != QProcess::NormalExit || m_oProcess.exitCode() != 0) {
            ADD_FAILURE() << "The server ended on SIGTERM with exit code " << m_oProcess.exitCode()
                          << (m_oProcess.exitStatus() == QProcess::NormalExit ? "" : " (crashed)");
        }
    }
    const QByteArray report = sanitizerReport(standardError());
    if (!report.isEmpty())
        ADD_FAILURE() << "The server reported:\n" << report.toStdString();
    if (::testing::Test::HasFailure())
        std::cerr << "---- server log (end) ----\n"
                  << logText().right(6000).toStdString() << "---- server stderr ----\n"
                  << m_oStandardError.right(6000).toStdString() << '\n';
}

void ServerProcess::writeIni() const
{
    const QString path = appDir() + "/VeltraneCryptoProvider.ini";
    QFile::copy(builtAppDir() + "/VeltraneCryptoProvider.ini", path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
    QSettings ini(path, QSettings::IniFormat);
    for (auto it = m_oIniValues.cbegin(); it != m_oIniValues.cend(); ++it)
        ini.setValue(it.key(), it.value());
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
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (auto it = m_oEnvironment.cbegin(); it != m_oEnvironment.cend(); ++it)
        environment.insert(it.key(), it.value());
    if (m_poAccount) {
        useReadableSuppressions(environment);
        environment.insert(QStringLiteral("HOME"), m_poAccount->home());
        environment.insert(QStringLiteral("USER"), m_poAccount->name());
        QFile::setPermissions(appDir(), QFile::permissions(appDir()) | QFile::ReadOther | QFile::ExeOther);
        m_poAccount->chownTree(appDir());
        m_poAccount->runAs(m_oProcess);
    }
    m_oProcess.setProcessEnvironment(environment);
    m_oProcess.start(appDir() + "/VeltraneCryptoServer", arguments);
    return m_oProcess.waitForStarted(10000);
}

int ServerProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (isRunning() && !m_oProcess.waitForFinished(static_cast<int>(timeout.count())))
        return -1;
    return m_oProcess.exitStatus() == QProcess::NormalExit ? m_oProcess.exitCode() : -1;
}

int ServerProcess::stopWithSignal(int signalNumber)
{
    ::kill(static_cast<pid_t>(m_oProcess.processId()), signalNumber);
    return waitForExit();
}

// Entries of /proc/<pid>/task.
int ServerProcess::threadCount() const
{
    return static_cast<int>(QDir(QStringLiteral("/proc/%1/task").arg(m_oProcess.processId()))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

QString ServerProcess::logFilePath() const
{
    return appDir() + "/xdg/config/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log";
}

QString ServerProcess::logText() const
{
    QFile file(logFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QByteArray ServerProcess::standardError()
{
    m_oStandardError += m_oProcess.readAllStandardError();
    return m_oStandardError;
}

quint16 ServerProcess::waitForListeningPort() const
{
    static const QRegularExpression listening(QStringLiteral("Listening on port (\\d+)\n"));
    waitUntil([&] { return listening.match(logText()).hasMatch(); }, std::chrono::seconds(20));
    return static_cast<quint16>(listening.match(logText()).captured(1).toUInt());
}

bool ServerProcess::installModules()
{
    setIniValue("dllLoader/dirPath", "modules");
    return QDir(appDir()).mkdir(QStringLiteral("modules")) &&
           runProgram("cp", {"-R", QStringLiteral(VYR_TEST_MODULE_DIR "/."), builtAppDir() + "/dlls/.",
                             appDir() + "/modules"})
                   .exitCode == 0;
}
