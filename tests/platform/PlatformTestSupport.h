#pragma once

#include "platform/CommandRunner.h"
#include "platform/EventLogWriter.h"
#include "platform/ProcessUtilsLinuxImpl.h"
#include "platform/SessionSource.h"
#include "support/CapturingSink.h"

#include <QMap>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

// Scripted answers by command line ("program arg1 arg2"); anything unscripted did not start.
class FakeCommandRunner : public CommandRunner
{
public:
    static CommandResult succeeded(const QByteArray &output, int exitCode = 0);
    static CommandResult failed(int exitCode, const QByteArray &error = QByteArray());
    static CommandResult timedOut();
    static CommandResult notStarted();

    void respond(const QString &commandLine, const CommandResult &result) { m_oScript.insert(commandLine, result); }
    void setDetachedAnswer(bool started) { m_bDetachedAnswer = started; }

    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;

    QStringList calls;         // command lines given to run()
    QList<int> timeouts;       // their limits
    QStringList detachedCalls; // command lines given to startDetached()

private:
    QMap<QString, CommandResult> m_oScript;
    bool m_bDetachedAnswer = true;
};

class FakeSessionSource : public SessionSource
{
public:
    SessionQuery querySessions() override { return query; }
    void setSessions(const QList<LoginSession> &sessions)
    {
        query.ok = true;
        query.sessions = sessions;
    }
    SessionQuery query;
};

class FakeEventLogWriter : public EventLogWriter
{
public:
    void writeError(const QString &source, const QString &message) override { entries.append({source, message}); }
    QList<std::pair<QString, QString>> entries;
};

// Watches the platform's log channels for the life of the object.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const { return m_pSink->lines(); }
    bool contains(const QString &line) const { return lines().contains(line); }
    bool containsText(const QString &text) const;

private:
    std::shared_ptr<CapturingSink> m_pSink;
};

// A crafted /proc: processes with fd links, command lines, stat and status files, and
// the TCP table.
class FakeProcTree
{
public:
    FakeProcTree();
    QString root() const { return m_oDir.path(); }

    void setTcpTable(const QByteArray &rows);
    void addProcess(qint64 pid);
    void addSocket(qint64 pid, int fd, quint64 inode);
    void setExecutable(qint64 pid, const QString &target);
    void writeEntry(qint64 pid, const QString &entry, const QByteArray &content);
    void writeFile(const QString &relativePath, const QByteArray &content);

private:
    QTemporaryDir m_oDir;
};

// Header plus one line per row, as the kernel writes them.
QByteArray tcpTableText(const QList<QByteArray> &rows);
QByteArray tcpRow(int slot, const char *local, const char *remote, const char *state, uint uid, quint64 inode);

struct FakePlatform
{
    std::shared_ptr<FakeCommandRunner> runner = std::make_shared<FakeCommandRunner>();
    std::shared_ptr<FakeSessionSource> sessions = std::make_shared<FakeSessionSource>();
    std::shared_ptr<FakeEventLogWriter> eventLog = std::make_shared<FakeEventLogWriter>();

    ProcessUtilsLinuxImpl::Dependencies dependencies(const QStringList &applicationDirs = {}) const
    {
        return {runner, sessions, eventLog, applicationDirs};
    }
};

LoginSession session(const QString &id, const QString &user, const QString &seat, bool active);

// Test case names for CTest: a label with spaces turned into underscores.
inline void printLabel(const char *label, std::ostream *out)
{
    for (const char *c = label; *c; ++c)
        *out << (*c == ' ' || *c == ',' ? '_' : *c);
}
