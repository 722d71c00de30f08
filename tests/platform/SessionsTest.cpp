// Logged-on sessions: the single-session rule, the console session and logind's answers.
#include "PlatformTestSupport.h"
#include "platform/LogindSessionSource_linux.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/UserDatabase_linux.h"
#include "platform/UtmpSessionSource_linux.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <unistd.h>
#include <utmpx.h>

namespace {

const QString kSingleSession = QStringLiteral("ProcessUtilsWinImpl::getDomainAndUsernameForSingleActiveSession ActiveSession Error: ");

struct SingleSessionCase
{
    const char *label;
    QList<LoginSession> sessions;
    QString expectedAccountUser;     // empty: an exception is expected
    QString expectedMessage;
    QString expectedUserMessage;
};

void PrintTo(const SingleSessionCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class SingleActiveSessionTest : public ::testing::TestWithParam<SingleSessionCase>
{
};

TEST_P(SingleActiveSessionTest, GetDomainAndUsernameForSingleActiveSession_Sessions_AccountOrActiveSessionException)
{
    const SingleSessionCase &c = GetParam();
    const LogCapture log;
    FakePlatform fakes;
    fakes.sessions->setSessions(c.sessions);
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    if (!c.expectedAccountUser.isEmpty()) {
        EXPECT_EQ(utils.getDomainAndUsernameForSingleActiveSession(), UserDatabase::accountText(c.expectedAccountUser)) << c.label;
        return;
    }
    try {
        utils.getDomainAndUsernameForSingleActiveSession();
        ADD_FAILURE() << c.label << ": no exception";
    } catch (const ActiveSessionException &exception) {
        EXPECT_EQ(exception.getMessage(), c.expectedMessage) << c.label;
        EXPECT_EQ(exception.getUserMessage(), c.expectedUserMessage) << c.label;
        std::unique_ptr<ProcessUtilsImplException> copy(exception.clone());
        EXPECT_THROW(copy->raise(), ActiveSessionException);
    }
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::getDomainAndUsernameForSingleActiveSession: "
                                            "Exception: ") + c.expectedMessage));
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SingleActiveSessionTest,
    ::testing::Values(
        SingleSessionCase{"one active, one disconnected",
                          {session("2", "bob", "seat0", false), session("5", "alice", "seat0", true)}, QStringLiteral("alice"), {}, {}},
        SingleSessionCase{"two active",
                          {session("2", "bob", "seat0", true), session("5", "alice", "", true)}, {},
                          kSingleSession + QStringLiteral("More than one active session"), QStringLiteral("More than one user already logged in.")},
        SingleSessionCase{"none active", {session("2", "bob", "seat0", false)}, {},
                          kSingleSession + QStringLiteral("Active session not found"), QStringLiteral("Could not find active session.")},
        SingleSessionCase{"no sessions", {}, {}, kSingleSession + QStringLiteral("Active session not found"),
                          QStringLiteral("Could not find active session.")}));

TEST(SessionQueryTest, ActiveSessionQueries_SourceFails_WTSEnumerateSessionsException)
{
    FakePlatform fakes;
    fakes.sessions->query.errorCode = 2;
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    try {
        utils.getDomainAndUsernamesForActiveSessions();
        FAIL() << "no exception";
    } catch (const WTSEnumerateSessionsException &exception) {
        EXPECT_EQ(exception.getMessage(), QStringLiteral("ProcessUtilsWinImpl::getActiveSessionsIDs WTSEnumerateSessions Error: 2"));
    }
    EXPECT_EQ(utils.getActiveConsoleSessionID(), QStringLiteral("<NO ACTIVE CONSOLE SESSION>"));
}

TEST(SessionQueryTest, GetDomainAndUsernamesForActiveSessions_Several_ActiveOnesInOrder)
{
    FakePlatform fakes;
    fakes.sessions->setSessions({session("1", "carol", "", true), session("2", "bob", "seat0", false), session("3", "alice", "seat0", true)});
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(utils.getDomainAndUsernamesForActiveSessions(),
              (QStringList{UserDatabase::accountText(QStringLiteral("carol")), UserDatabase::accountText(QStringLiteral("alice"))}));
    EXPECT_EQ(utils.getActiveConsoleSessionID(), UserDatabase::accountText(QStringLiteral("alice")));
}

TEST(SessionQueryTest, ConsoleSession_OnlyRemoteOrInactive_NoActiveConsoleSession)
{
    FakePlatform fakes;
    fakes.sessions->setSessions({session("1", "carol", "", true), session("2", "bob", "seat0", false)});
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(utils.getActiveConsoleSessionID(), QStringLiteral("<NO ACTIVE CONSOLE SESSION>"));
    EXPECT_FALSE(utils.isProcessOnConsoleUser(getpid()));
}

TEST(SessionQueryTest, IsProcessOnConsoleUser_OwnAccountAtConsole_TrueIgnoringCase)
{
    FakePlatform fakes;
    const QString me = UserDatabase::userName(geteuid()).value;
    fakes.sessions->setSessions({session("7", me.toUpper(), "seat0", true)});
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_TRUE(utils.isProcessOnConsoleUser(getpid()));
}

TEST(LogindSessionSourceTest, QuerySessions_ListThenShow_UserSessionsWithState)
{
    auto runner = std::make_shared<FakeCommandRunner>();
    runner->respond(QStringLiteral("loginctl list-sessions --no-legend --no-pager"),
                    FakeCommandRunner::succeeded("      2 1000 alice seat0 tty2\n     c1  120 gdm   seat0 tty1\n     14 1001 bob         \n"));
    const QString show = QStringLiteral("loginctl show-session --no-pager -p Id -p Name -p Seat -p TTY -p Active -p Class 2 c1 14");
    runner->respond(show, FakeCommandRunner::succeeded("Id=2\nName=alice\nSeat=seat0\nTTY=tty2\nActive=yes\nClass=user\n\n"
                                                       "Id=c1\nName=gdm\nSeat=seat0\nTTY=tty1\nActive=no\nClass=greeter\n\n"
                                                       "Id=14\nName=bob\nSeat=\nTTY=pts/3\nActive=no\nClass=user\n"));
    const SessionQuery query = LogindSessionSource(runner).querySessions();
    ASSERT_TRUE(query.ok);
    ASSERT_EQ(query.sessions.size(), 2);
    EXPECT_EQ(query.sessions[0].id, QStringLiteral("2"));
    EXPECT_EQ(query.sessions[0].userName, QStringLiteral("alice"));
    EXPECT_EQ(query.sessions[0].seat, QStringLiteral("seat0"));
    EXPECT_TRUE(query.sessions[0].active);
    EXPECT_EQ(query.sessions[1].tty, QStringLiteral("pts/3"));
    EXPECT_FALSE(query.sessions[1].active);
    EXPECT_EQ(runner->calls.last(), show);
}

TEST(LogindSessionSourceTest, QuerySessions_Failures_NotOkWithCode)
{
    auto runner = std::make_shared<FakeCommandRunner>();
    EXPECT_FALSE(LogindSessionSource(runner).querySessions().ok); // loginctl missing
    runner->respond(QStringLiteral("loginctl list-sessions --no-legend --no-pager"), FakeCommandRunner::failed(1));
    const SessionQuery failed = LogindSessionSource(runner).querySessions();
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.errorCode, 1);
    runner->respond(QStringLiteral("loginctl list-sessions --no-legend --no-pager"), FakeCommandRunner::succeeded(""));
    const SessionQuery none = LogindSessionSource(runner).querySessions();
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.sessions.isEmpty());
}

utmpx loginRecord(short type, pid_t pid, const char *line, const char *user)
{
    utmpx record{};
    record.ut_type = type;
    record.ut_pid = pid;
    std::strncpy(record.ut_line, line, sizeof record.ut_line);
    std::strncpy(record.ut_user, user, sizeof record.ut_user);
    return record;
}

TEST(UtmpSessionSourceTest, QuerySessions_LoginRecords_UserLoginsActiveWhileTheirProcessLives)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("utmp"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // A pid above the kernel's limit never belongs to a live process.
    const utmpx records[] = {loginRecord(LOGIN_PROCESS, getpid(), "tty3", "LOGIN"),
                             loginRecord(USER_PROCESS, getpid(), "tty1", "alice"),
                             loginRecord(USER_PROCESS, 4194305, "pts/5", "bob"),
                             loginRecord(USER_PROCESS, getpid(), ":0", "carol")};
    file.write(reinterpret_cast<const char *>(records), sizeof records);
    file.close();
    const SessionQuery query = UtmpSessionSource(path).querySessions();
    ASSERT_TRUE(query.ok);
    ASSERT_EQ(query.sessions.size(), 3);
    EXPECT_EQ(query.sessions[0].userName, QStringLiteral("alice"));
    EXPECT_EQ(query.sessions[0].seat, QStringLiteral("seat0"));
    EXPECT_TRUE(query.sessions[0].active);
    EXPECT_EQ(query.sessions[1].tty, QStringLiteral("pts/5"));
    EXPECT_TRUE(query.sessions[1].seat.isEmpty());
    EXPECT_FALSE(query.sessions[1].active);
    EXPECT_EQ(query.sessions[2].seat, QStringLiteral("seat0"));
}

} // namespace
