#include "ProtocolFixture.h"

#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kClients = 5;            // keep-alive connections, fewer than maxThreads
constexpr int kSessionsPerClient = 10; // 50 sessions in all
constexpr int kJobsPerSession = 2;
constexpr int kJobThreads = 2; // started on demand and kept

class LoadTest : public ProtocolTest
{
protected:
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

    std::vector<std::unique_ptr<TlsClient>> m_oClients;
};

TEST_F(LoadTest, FiftySessions_JobsPolledAndSomeTimedOut_EachResultToItsOwnSessionAndNoThreadLeft)
{
    // Long enough for the slowest build on a busy machine to reach every session in time.
    m_oServer.setIniValue("timeout/interval", "5000");
    m_oServer.setIniValue("listener/cleanupInterval", "200");
    m_oServer.setIniValue("logging/logLevel", "2");
    m_oServer.setIniValue("jobs/workerThreads", QString::number(kJobThreads));
    startServer();
    ASSERT_EQ(post("/SERVER_VERSION").statusCode(), 200);
    const int baseline = m_oServer.threadCount();
    for (int client = 0; client < kClients; ++client)
        m_oClients.push_back(std::make_unique<TlsClient>(m_iPort, s_poOwner));
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
    // Every fifth session is never collected nor closed: the timeout ends it.
    const auto timesOut = [](int s) { return s % 5 == 0; };
    for (int s = 0; s < kSessionsPerClient; ++s) {
        if (timesOut(s))
            continue;
        for (int job = 0; job < kJobsPerSession; ++job) {
            for (int client = 0; client < kClients; ++client) {
                TlsClient &connection = *m_oClients[client];
                const HttpAnswer result = pollWhileRunning([&] {
                    connection.send(TlsClient::postRequest(resultPath(commandIds[client][s][job]),
                                                           sessionHeader(ids[client][s])));
                    return connection.readAnswer();
                });
                EXPECT_EQ(result.statusLine + ' ' + result.body, "HTTP/1.1 200 OK " + data(client, s, job));
            }
        }
        for (const HttpAnswer &closed : round([&](int client) {
                 return TlsClient::postRequest("/CLOSE_SESSION", sessionHeader(ids[client][s]));
             }))
            EXPECT_EQ(closed.statusLine + ' ' + closed.body, "HTTP/1.1 200 OK ");
    }
    m_oClients.clear();
    m_poClient.reset();
    for (const auto &sessionIds : ids)
        for (int s = 0; s < kSessionsPerClient; ++s)
            EXPECT_TRUE(!timesOut(s) ||
                        m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionIds[s], 10s));
    EXPECT_TRUE(waitUntil([&] { return m_oServer.threadCount() <= baseline + kJobThreads; }, 20s))
        << "threads now " << m_oServer.threadCount() << ", before the load " << baseline;
    EXPECT_TRUE(m_oServer.isRunning());
}

} // namespace
