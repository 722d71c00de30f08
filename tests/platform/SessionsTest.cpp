// Logged-on sessions: the single-session rule, the console session and logind's answers.
#include "PlatformTestSupport.h"
#include "platform/LogindSessionSource_linux.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/UserDatabase_linux.h"

#include <unistd.h>

namespace {

// "id user seat tty active" per session, for comparing whole answers.
QStringList summary(const QList<LoginSession> &sessions)
{
    QStringList lines;
    for (const LoginSession &s : sessions)
        lines.append(QStringList{s.id, s.userName, s.seat, s.tty, s.active ? "active" : "inactive"}.join(
            QLatin1Char(' ')));
    return lines;
}

TEST(SingleActiveSessionTest,
     GetDomainAndUsernameForSingleActiveSession_Sessions_AccountOrActiveSessionException)
{
    Fakes fakes;
    auto utils = fakes.utils();
    fakes.sessions->query.sessions = {session("bob", "seat0", false, "2"),
                                      session("alice", "seat0", true, "5")};
    EXPECT_EQ(utils.getDomainAndUsernameForSingleActiveSession(), UserDatabase::accountText("alice"));
    const QString prefix =
        "ProcessUtilsWinImpl::getDomainAndUsernameForSingleActiveSession ActiveSession Error: ";
    const struct
    {
        QList<LoginSession> sessions;
        QString message, userMessage;
    } failures[] = {
        {{session("bob", "seat0", true, "2"), session("alice", "", true, "5")},
         prefix + "More than one active session",
         "More than one user already logged in."},
        {{session("bob", "seat0", false)},
         prefix + "Active session not found",
         "Could not find active session."},
    };
    for (const auto &c : failures) {
        fakes.sessions->query.sessions = c.sessions;
        try {
            utils.getDomainAndUsernameForSingleActiveSession();
            ADD_FAILURE() << "no exception for " << c.message.toStdString();
        } catch (const ActiveSessionException &exception) {
            EXPECT_EQ(exception.getMessage(), c.message);
            EXPECT_EQ(exception.getUserMessage(), c.userMessage);
            EXPECT_THROW(std::unique_ptr<ProcessUtilsImplException>(exception.clone())->raise(),
                         ActiveSessionException);
        }
    }
}

TEST(LogindSessionSourceTest, QuerySessions_ListThenShow_UserSessionsOrFailureCode)
{
    const QString list = "loginctl list-sessions --no-legend --no-pager";
    auto runner = std::make_shared<FakeCommandRunner>();
    EXPECT_FALSE(LogindSessionSource(runner).querySessions().ok); // no loginctl
    runner->script.insert(list, ran(1));
    EXPECT_EQ(LogindSessionSource(runner).querySessions().errorCode, 1);
    runner->script.insert(
        list,
        ran(0, "      2 1000 alice seat0 tty2\n     c1  120 gdm   seat0 tty1\n     14 1001 bob         \n"));
    runner->script.insert(
        "loginctl show-session --no-pager -p Id -p Name -p Seat -p TTY -p Active -p Class 2 c1 14",
        ran(0, "Id=2\nName=alice\nSeat=seat0\nTTY=tty2\nActive=yes\nClass=user\n\n"
               "Id=c1\nName=gdm\nSeat=seat0\nTTY=tty1\nActive=no\nClass=greeter\n\n"
               "Id=14\nName=bob\nSeat=\nTTY=pts/3\nActive=no\nClass=user\n"));
    const SessionQuery query = LogindSessionSource(runner).querySessions();
    EXPECT_TRUE(query.ok);
    EXPECT_EQ(summary(query.sessions), (QStringList{"2 alice seat0 tty2 active", "14 bob  pts/3 inactive"}));
}

} // namespace
