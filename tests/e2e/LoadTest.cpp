#include "ProtocolFixture.h"

#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kClients = 5;            // keep-alive connections, fewer than maxThreads
constexpr int kSessionsPerClient = 10; // 50 sessions in all
constexpr int kJobsPerSession = 2;
constexpr int kCloseLoops = 40; // per client: open, command, close, as fast as replies come

struct Job
{
    QByteArray commandId;
    QByteArray expected;
};

struct Session
{
    QByteArray id;
    std::vector<Job> jobs;
    bool leftToTimeOut = false; // never collected nor closed: the timeout ends it
};

QByteArray sessionHeader(const Session &session)
{
    return "X-VYR-sessionId: " + session.id + "\r\n";
}

class LoadTest : public ProtocolTest
{
protected:
    // One request per client at a time, all clients in flight together.
    void round(const std::function<QByteArray(int client, int session)> &requestFor,
               const std::function<void(int client, int session, const HttpAnswer &)> &check, int session)
    {
        for (int client = 0; client < kClients; ++client)
            m_oClients[client]->send(requestFor(client, session));
        for (int client = 0; client < kClients; ++client)
            check(client, session, m_oClients[client]->receive());
    }

    Session &sessionOf(int client, int session) { return m_oSessions[client * kSessionsPerClient + session]; }

    std::vector<std::unique_ptr<AccountClient>> m_oClients;
    std::vector<Session> m_oSessions{kClients * kSessionsPerClient};
};

TEST_F(LoadTest, FiftySessions_JobsPolledAndSomeTimedOut_EachResultOnceToItsOwnSessionAndNoThreadLeft)
{
    // Long enough for the slowest build on a busy machine to reach every session in time.
    m_oServer.setIniValue("timeout/interval", "5000");
    m_oServer.setIniValue("listener/cleanupInterval", "200");
    m_oServer.setIniValue("logging/logLevel", "2");
    startServer();
    ASSERT_EQ(post("/SERVER_VERSION").statusCode(), 200);
    const int baseline = m_oServer.threadCount();
    for (int client = 0; client < kClients; ++client)
        m_oClients.push_back(std::make_unique<AccountClient>(m_iPort, s_poOwner));

    for (int session = 0; session < kSessionsPerClient; ++session) {
        round([](int, int) { return AccountClient::postRequest("/Mod1/OPEN_SESSION"); },
              [&](int client, int s, const HttpAnswer &answer) {
                  ASSERT_TRUE(isBracedUuid(answer.body)) << answer.statusLine.constData();
                  sessionOf(client, s).id = answer.body;
                  sessionOf(client, s).leftToTimeOut = (client * kSessionsPerClient + s) % 5 == 0;
              },
              session);
    }
    for (int session = 0; session < kSessionsPerClient; ++session) {
        for (int job = 0; job < kJobsPerSession; ++job) {
            round(
                [&](int client, int s) {
                    const QByteArray data =
                        QStringLiteral("c%1s%2j%3").arg(client).arg(s).arg(job).toLatin1();
                    sessionOf(client, s).jobs.push_back({{}, data});
                    return AccountClient::postRequest("/Mod1/Cmd1?data=" + data,
                                                      sessionHeader(sessionOf(client, s)));
                },
                [&](int client, int s, const HttpAnswer &answer) {
                    ASSERT_EQ(answer.statusCode(), 202);
                    sessionOf(client, s).jobs.back().commandId = answer.headers.value("X-VYR-cmdId");
                },
                session);
        }
    }

    // Another session's command ID never yields that session's result.
    const Session &victim = sessionOf(0, 1);
    const Session &intruder = sessionOf(1, 1);
    EXPECT_EQ(m_poClient
                  ->post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(victim.jobs[0].commandId),
                         sessionHeader(intruder))
                  .statusCode(),
              419);

    for (int session = 0; session < kSessionsPerClient; ++session) {
        for (int job = 0; job < kJobsPerSession; ++job) {
            std::vector<bool> pending(kClients, true);
            QDeadlineTimer deadline(20s);
            while (std::find(pending.begin(), pending.end(), true) != pending.end() &&
                   !deadline.hasExpired()) {
                round(
                    [&](int client, int s) {
                        const Session &owner = sessionOf(client, s);
                        const bool skip = owner.leftToTimeOut || !pending[client];
                        return skip ? AccountClient::postRequest("/SERVER_VERSION")
                                    : AccountClient::postRequest(
                                          "/GET_RESULT?cmdId=" +
                                              QUrl::toPercentEncoding(owner.jobs[job].commandId),
                                          sessionHeader(owner));
                    },
                    [&](int client, int s, const HttpAnswer &answer) {
                        const Session &owner = sessionOf(client, s);
                        if (owner.leftToTimeOut || !pending[client]) {
                            pending[client] = false;
                            return;
                        }
                        if (answer.statusCode() == 202)
                            return;
                        EXPECT_EQ(answer.statusCode(), 200);
                        EXPECT_EQ(answer.body, owner.jobs[job].expected);
                        pending[client] = false;
                    },
                    session);
            }
            EXPECT_FALSE(deadline.hasExpired()) << "session " << session << " job " << job;
        }
    }
    // Collected once: a second poll finds nothing. Then the collecting sessions close.
    for (int session = 0; session < kSessionsPerClient; ++session) {
        round(
            [&](int client, int s) {
                const Session &owner = sessionOf(client, s);
                return AccountClient::postRequest("/GET_RESULT?cmdId=" +
                                                      QUrl::toPercentEncoding(owner.jobs[0].commandId),
                                                  sessionHeader(owner));
            },
            [&](int client, int s, const HttpAnswer &answer) {
                if (!sessionOf(client, s).leftToTimeOut) {
                    EXPECT_EQ(answer.statusCode(), 419);
                }
            },
            session);
        round(
            [&](int client, int s) {
                const Session &owner = sessionOf(client, s);
                return owner.leftToTimeOut
                           ? AccountClient::postRequest("/SERVER_VERSION")
                           : AccountClient::postRequest("/CLOSE_SESSION", sessionHeader(owner));
            },
            [&](int, int, const HttpAnswer &answer) { EXPECT_EQ(answer.statusCode(), 200); }, session);
    }

    m_oClients.clear();
    m_poClient.reset();
    for (const Session &session : m_oSessions) {
        if (session.leftToTimeOut) {
            EXPECT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + session.id, 10s));
        }
    }
    EXPECT_TRUE(waitUntil([&] { return m_oServer.threadCount() <= baseline; }, 20s))
        << "threads now " << m_oServer.threadCount() << ", before the load " << baseline;
    EXPECT_TRUE(m_oServer.isRunning());
}

// Each session closed right behind its command, so jobs outlive their sessions; and names
// that only a library the module links defines are no commands.
TEST_F(LoadTest, OpenCommandCloseLoop_JobsOutliveTheirSessions_EveryReplyAsSpecifiedAndModuleUnloadedAtTheEnd)
{
    m_oServer.setIniValue("logging/logLevel", "2");
    startServer();
    for (int client = 0; client < kClients; ++client)
        m_oClients.push_back(std::make_unique<AccountClient>(m_iPort, s_poOwner));
    const QByteArray foreign[] = {"abort", "exit", "malloc", "qVersion"};
    std::vector<QByteArray> ids(kClients);
    const auto session = [&](int client) { return "X-VYR-sessionId: " + ids[client] + "\r\n"; };
    const auto expect = [](const QByteArray &statusLine, const QByteArray &body) {
        return [=](int, int, const HttpAnswer &answer) {
            EXPECT_EQ(answer.statusLine, statusLine);
            EXPECT_EQ(answer.body, body);
        };
    };
    QDeadlineTimer deadline(120s);
    for (int loop = 0; loop < kCloseLoops && !deadline.hasExpired() && !HasFailure(); ++loop) {
        round([](int, int) { return AccountClient::postRequest("/NoXml/OPEN_SESSION"); },
              [&](int client, int, const HttpAnswer &answer) {
                  EXPECT_TRUE(isBracedUuid(answer.body)) << answer.statusLine.constData();
                  ids[client] = answer.body;
              },
              loop);
        round(
            [&](int client, int n) {
                return AccountClient::postRequest("/NoXml/" + foreign[(client + n) % 4], session(client));
            },
            expect("HTTP/1.1 404 Not Found", "The URL you requested was not found."), loop);
        // The close pipelined behind the command: it reaches the server before the job's
        // thread may have started. Its answer is read by a round that sends nothing.
        round(
            [&](int client, int) {
                return AccountClient::postRequest("/NoXml/Cmd1?data=x", session(client)) +
                       AccountClient::postRequest("/CLOSE_SESSION", session(client));
            },
            expect("HTTP/1.1 202 Accepted", ""), loop);
        round([](int, int) { return QByteArray(); }, expect("HTTP/1.1 200 OK", ""), loop);
    }
    EXPECT_FALSE(deadline.hasExpired());
    // The last job to store its result lets the module go.
    EXPECT_TRUE(waitUntil(
        [&] {
            const QStringList lines =
                m_oServer.logLines().filter(QRegularExpression("Module NoXml (un)?loaded$"));
            return !lines.isEmpty() && lines.last().endsWith("unloaded");
        },
        20s));
    EXPECT_EQ(m_oClients[0]->post("/SERVER_VERSION").statusCode(), 200);
    EXPECT_TRUE(m_oServer.isRunning());
}

} // namespace
