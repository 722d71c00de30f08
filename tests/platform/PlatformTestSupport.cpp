#include "PlatformTestSupport.h"

#include "logging/LogChannels.h"

#include <QDir>
#include <QFile>

#include <array>

#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>

namespace {

std::array<LogChannel *, 3> platformChannels()
{
    return {&processUtilsLogChannel(), &fileVersionLogChannel(), &serverLogChannel()};
}

// Outside a LogCapture the channels write nowhere, rather than complain that no one set them up.
void silenceChannels()
{
    for (LogChannel *channel : platformChannels())
        channel->initializeWithSinks(static_cast<int>(LogLevel::Debug), 1000000, QString(),
                                     {std::make_shared<spdlog::sinks::null_sink_mt>()});
}

class SilentChannels : public ::testing::Environment
{
public:
    void SetUp() override { silenceChannels(); }
    void TearDown() override
    {
        for (LogChannel *channel : platformChannels())
            channel->reset();
    }
};

// gtest owns registered environments.
[[maybe_unused]] ::testing::Environment *const g_pSilentChannels = ::testing::AddGlobalTestEnvironment(new SilentChannels);

} // namespace

CommandResult FakeCommandRunner::succeeded(const QByteArray &output, int exitCode)
{
    CommandResult result;
    result.started = result.finished = true;
    result.exitCode = exitCode;
    result.output = output;
    return result;
}

CommandResult FakeCommandRunner::failed(int exitCode, const QByteArray &error)
{
    CommandResult result = succeeded({}, exitCode);
    result.error = error;
    return result;
}

CommandResult FakeCommandRunner::timedOut()
{
    CommandResult result;
    result.started = result.timedOut = true;
    return result;
}

CommandResult FakeCommandRunner::notStarted()
{
    CommandResult result;
    result.error = "No such file or directory";
    return result;
}

CommandResult FakeCommandRunner::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    const QString line = (QStringList{program} + arguments).join(QLatin1Char(' '));
    calls.append(line);
    timeouts.append(timeoutMs);
    return m_oScript.value(line, notStarted());
}

bool FakeCommandRunner::startDetached(const QString &program, const QStringList &arguments)
{
    detachedCalls.append((QStringList{program} + arguments).join(QLatin1Char(' ')));
    return m_bDetachedAnswer;
}

LogCapture::LogCapture() : m_pSink(std::make_shared<CapturingSink>())
{
    for (LogChannel *channel : platformChannels())
        channel->initializeWithSinks(static_cast<int>(LogLevel::Debug), 1000000, QString(), {m_pSink});
}

LogCapture::~LogCapture()
{
    silenceChannels();
}

bool LogCapture::containsText(const QString &text) const
{
    const QStringList all = lines();
    return std::any_of(all.begin(), all.end(), [&text](const QString &line) { return line.contains(text); });
}

FakeProcTree::FakeProcTree()
{
    EXPECT_TRUE(m_oDir.isValid());
}

void FakeProcTree::setTcpTable(const QByteArray &text)
{
    writeFile(QStringLiteral("net/tcp"), text);
}

void FakeProcTree::addProcess(qint64 pid)
{
    ASSERT_TRUE(QDir(root()).mkpath(QStringLiteral("%1/fd").arg(pid)));
}

void FakeProcTree::addSocket(qint64 pid, int fd, quint64 inode)
{
    addProcess(pid);
    const QString link = QStringLiteral("%1/%2/fd/%3").arg(root()).arg(pid).arg(fd);
    ASSERT_TRUE(QFile::link(QStringLiteral("socket:[%1]").arg(inode), link));
}

void FakeProcTree::setExecutable(qint64 pid, const QString &target)
{
    addProcess(pid);
    ASSERT_TRUE(QFile::link(target, QStringLiteral("%1/%2/exe").arg(root()).arg(pid)));
}

void FakeProcTree::writeEntry(qint64 pid, const QString &entry, const QByteArray &content)
{
    addProcess(pid);
    writeFile(QStringLiteral("%1/%2").arg(pid).arg(entry), content);
}

void FakeProcTree::writeFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = root() + QLatin1Char('/') + relativePath;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray tcpTableText(const QList<QByteArray> &rows)
{
    QByteArray text = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    for (const QByteArray &row : rows)
        text += row + '\n';
    return text;
}

QByteArray tcpRow(int slot, const char *local, const char *remote, const char *state, uint uid, quint64 inode)
{
    return QStringLiteral("%1: %2 %3 %4 00000000:00000000 00:00000000 00000000 %5        0 %6 1 0000000000000000 100 0 0 10 0")
        .arg(slot, 4)
        .arg(QString::fromLatin1(local), QString::fromLatin1(remote), QString::fromLatin1(state))
        .arg(uid, 5)
        .arg(inode)
        .toLatin1();
}

LoginSession session(const QString &id, const QString &user, const QString &seat, bool active)
{
    LoginSession result;
    result.id = id;
    result.userName = user;
    result.seat = seat;
    result.active = active;
    return result;
}
