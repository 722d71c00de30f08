#pragma once

#include "WaitUntil.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

class TestAccount;

// The real server executable in a temporary application directory of its own (INI,
// certificates, modules) with its own XDG directories, so its log and state files never
// mix with another test's. The destructor ends the process by pid.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // "group/key" = value, written over the INI template at start().
    void setIniValue(const QString &groupAndKey, const QString &value);
    void removeIni() { m_bWriteIni = false; }
    // Copies this machine's provisioned certificate and key into certs/.
    bool provisionCertificates();
    // Copies the test modules and the bundled modules into modules/ and points the INI there.
    bool installModules();
    // Runs another build of the server (same executable name) instead of the shipped one.
    void useExecutable(const QString &path);
    // Runs the server as that account (the application directory is handed to it).
    void runAs(const TestAccount *account) { m_poAccount = account; }

    bool start(const QStringList &arguments = {QStringLiteral("-console")});
    // Exit code after the process ended; -1 when it did not end in time.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    int stopWithSignal(int signalNumber);
    qint64 pid() const;
    bool isRunning() const;

    QString appDir() const { return m_oAppDir.path(); }
    QString logFilePath() const;
    QString logText() const;
    QStringList logLines() const;
    bool waitForLogLine(const QString &fragment,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    QByteArray standardError();
    // The port of the "Listening on port N" line; 0 when it did not appear in time.
    quint16 waitForListeningPort(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Threads of the server process right now (entries of /proc/<pid>/task).
    int threadCount() const;

private:
    void writeIni() const;
    void useReadableSuppressions(QProcessEnvironment &environment) const;

    QTemporaryDir m_oAppDir;
    QMap<QString, QString> m_oIniValues;
    bool m_bWriteIni = true;
    QProcess m_oProcess;
    QByteArray m_oStandardError;
    const TestAccount *m_poAccount = nullptr;
};

// Certificates for this machine, made once per test run by the e2e_certificates fixture:
// the directory holds certs/VYR-cert-server.pem, certs/VYR-key-server.pem, certs/VYR-ca.pem.
QString provisionedCertificatesDir();

// The first sanitizer report in a server's standard error (from its first line), or empty.
QByteArray sanitizerReport(const QByteArray &standardError);

// The message part of a log line ("[channel]:Class::method: text"), after the time,
// process/thread ids and level; empty when the line does not have the log's shape.
QString logMessageOf(const QString &line, QString *level = nullptr);
