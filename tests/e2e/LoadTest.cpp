#include "ProtocolFixture.h"

#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kClients = 5;            // keep-alive connections, fewer than maxThreads
constexpr int kSessionsPerClient = 10; // 50 sessions in all
constexpr int kJobsPerSession = 2;

class LoadTest : public ProtocolTest
{
protected:
    void connectClients()
    {
        for (int client = 0; client < kClients; ++client)
            m_oClients.push_back(std::make_unique<TlsClient>(m_iPort, s_poOwner));
    }

    // One request per client, all clients in flight together; the answers in client order.
    std::vector<HttpAnswer> round(const std::function<QByteArray(int client)> &requestOf)
    {
        for (int client = 0; client < kClients; ++client)
            m_oClients[client]->send(requestOf(client));
        std::vector<HttpAnswer> answers;
        for (const auto &client : m_oClients)
            answers.push_back(client->readAnswer());
        return answers;
    }

    static void expectAll(const std::vector<HttpAnswer> &answers, const QByteArray &statusLineAndBody)
    {
        for (const HttpAnswer &answer : answers)
            EXPECT_EQ(answer.statusLine + ' ' + answer.body, statusLineAndBody);
    }

    std::vector<std::unique_ptr<TlsClient>> m_oClients;
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
    connectClients();
    QByteArray ids[kClients][kSessionsPerClient];
    QByteArray commandIds[kClients][kSessionsPerClient][kJobsPerSession];
    const auto data = [](int client, int s, int job) {
        return QStringLiteral("c%1s%2j%3").arg(client).arg(s).arg(job).toLatin1();
    };
    for (int s = 0; s < kSessionsPerClient; ++s) {
        const std::vector<HttpAnswer> opened =
            round([](int) { return TlsClient::postRequest("/Mod1/OPEN_SESSION"); });
        for (int client = 0; client < kClients; ++client) {
            ASSERT_TRUE(isBracedUuid(opened[client].body)) << opened[client].statusLine.constData();
            ids[client][s] = opened[client].body;
        }
        for (int job = 0; job < kJobsPerSession; ++job) {
            const std::vector<HttpAnswer> started = round([&](int client) {
                return TlsClient::postRequest("/Mod1/Cmd1?data=" + data(client, s, job),
                                              sessionHeader(ids[client][s]));
            });
            for (int client = 0; client < kClients; ++client) {
                ASSERT_EQ(started[client].statusCode(), 202);
                commandIds[client][s][job] = started[client].headers.value("X-VYR-cmdId");
            }
        }
    }
    // Another session's command ID never yields that session's result.
    EXPECT_EQ(post(resultPath(commandIds[0][1][0]), ids[1][1]).statusCode(), 419);

    // Every fifth session is never collected nor closed: the timeout ends it. A client whose
    // result came asks for the version while the others poll.
    const auto timesOut = [](int s) { return s % 5 == 0; };
    for (int s = 0; s < kSessionsPerClient; ++s) {
        for (int job = 0; job < kJobsPerSession && !timesOut(s); ++job) {
            const auto poll = [&](int client) {
                return TlsClient::postRequest(resultPath(commandIds[client][s][job]),
                                              sessionHeader(ids[client][s]));
            };
            std::vector<HttpAnswer> results(kClients);
            EXPECT_TRUE(waitUntil(
                [&] {
                    const std::vector<HttpAnswer> answers = round([&](int client) {
                        return results[client].statusCode() ? TlsClient::postRequest("/SERVER_VERSION")
                                                            : poll(client);
                    });
                    for (int client = 0; client < kClients; ++client) {
                        if (!results[client].statusCode() && answers[client].statusCode() != 202)
                            results[client] = answers[client];
                    }
                    return std::all_of(results.begin(), results.end(),
                                       [](auto &r) { return r.statusCode(); });
                },
                20s));
            for (int client = 0; client < kClients; ++client)
                EXPECT_EQ(results[client].statusLine + ' ' + results[client].body,
                          "HTTP/1.1 200 OK " + data(client, s, job));
            // Collected once: a second poll finds nothing.
            expectAll(round(poll), "HTTP/1.1 419 No Result There is no result for given parameters.");
        }
        if (!timesOut(s))
            expectAll(round([&](int client) {
                          return TlsClient::postRequest("/CLOSE_SESSION", sessionHeader(ids[client][s]));
                      }),
                      "HTTP/1.1 200 OK ");
    }
    m_oClients.clear();
    m_poClient.reset();
    for (const auto &sessionIds : ids) {
        for (int s = 0; s < kSessionsPerClient; ++s) {
            if (timesOut(s)) {
                EXPECT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionIds[s], 10s));
            }
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
    connectClients();
    const QByteArray foreign[] = {"abort", "exit", "malloc", "qVersion"};
    QByteArray ids[kClients];
    const QDeadlineTimer deadline(120s);
    for (int loop = 0; loop < 40 && !deadline.hasExpired() && !HasFailure(); ++loop) {
        const std::vector<HttpAnswer> opened =
            round([](int) { return TlsClient::postRequest("/NoXml/OPEN_SESSION"); });
        for (int client = 0; client < kClients; ++client) {
            EXPECT_TRUE(isBracedUuid(opened[client].body)) << opened[client].statusLine.constData();
            ids[client] = opened[client].body;
        }
        expectAll(round([&](int client) {
                      return TlsClient::postRequest("/NoXml/" + foreign[(client + loop) % 4],
                                                    sessionHeader(ids[client]));
                  }),
                  "HTTP/1.1 404 Not Found The URL you requested was not found.");
        // The close pipelined behind the command: it reaches the server before the job's
        // thread may have started. Its answer is read by a round that sends nothing.
        expectAll(round([&](int client) {
                      return TlsClient::postRequest("/NoXml/Cmd1?data=x", sessionHeader(ids[client])) +
                             TlsClient::postRequest("/CLOSE_SESSION", sessionHeader(ids[client]));
                  }),
                  "HTTP/1.1 202 Accepted ");
        expectAll(round([](int) { return QByteArray(); }), "HTTP/1.1 200 OK ");
    }
    EXPECT_FALSE(deadline.hasExpired());
    // The last job to store its result lets the module go.
    EXPECT_TRUE(waitUntil(
        [&] {
            const QStringList lines =
                m_oServer.logText().split('\n').filter(QRegularExpression("Module NoXml (un)?loaded$"));
            return !lines.isEmpty() && lines.last().endsWith("unloaded");
        },
        20s));
    EXPECT_EQ(m_oClients[0]->post("/SERVER_VERSION").statusCode(), 200);
    EXPECT_TRUE(m_oServer.isRunning());
}

} // namespace
