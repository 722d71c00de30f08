#pragma once

#include "WaitUntil.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>

class TestAccount;

// The real server executable in a temporary application directory of its own (INI, this
// run's certificates, modules) with its own XDG directories, so its log and state files never
// mix with another test's. The destructor ends the process by pid and fails the test when it
// does not end cleanly or a sanitizer reported.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();

    // "group/key" = value, written over the shipped INI at start().
    void setIniValue(const QString &groupAndKey, const QString &value)
    {
        m_oIniValues.insert(groupAndKey, value);
    }
    void removeIni() { m_bWriteIni = false; }
    // Set in the server's environment after the test's own display variables are taken out.
    void setEnvironmentValue(const QString &name, const QString &value)
    {
        m_oEnvironment.insert(name, value);
    }
    // Copies the test modules and the bundled modules into modules/ and points the INI there.
    bool installModules();
    // Runs the server as that account (the application directory is handed to it).
    void runAs(const TestAccount *account) { m_poAccount = account; }

    bool start(const QStringList &arguments = {QStringLiteral("-console")});
    // Exit code after the process ended; -1 when it did not end normally in time.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    int stopWithSignal(int signalNumber);
    bool isRunning() const { return m_oProcess.state() != QProcess::NotRunning; }
    int threadCount() const;
    qint64 pid() const { return m_oProcess.processId(); }

    QString appDir() const { return m_oAppDir.path(); }
    QString logFilePath() const;
    QString logText() const;
    bool waitForLogLine(const QString &fragment,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) const
    {
        return waitUntil([&] { return logText().contains(fragment); }, timeout);
    }
    QByteArray standardError();
    // The port of the "Listening on port N" line; 0 when it did not appear in time.
    quint16 waitForListeningPort() const;

private:
    void writeIni() const;
    void useReadableSuppressions(QProcessEnvironment &environment) const;

    QTemporaryDir m_oAppDir;
    QMap<QString, QString> m_oIniValues;
    QMap<QString, QString> m_oEnvironment;
    bool m_bWriteIni = true;
    QProcess m_oProcess;
    QByteArray m_oStandardError;
    const TestAccount *m_poAccount = nullptr;
};
