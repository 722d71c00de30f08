#include "InProcessServer.h"
#include "support/QtPrinters.h"

#include <QUrl>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

const QByteArray kFull = "The VYR server holds too many sessions. Try again later.";
const QByteArray kTooLarge = "The session cannot hold more values of this size.";

QByteArray openWith(const char *json)
{
    return "/Mod1/OPEN_SESSION?sessionVars=" + QUrl::toPercentEncoding(QString::fromLatin1(json));
}

// One request: path, session (-1 for none, else the index of one opened earlier in the case),
// status and body (null: not checked); a job's result is collected.
using CapStep = std::tuple<QByteArray, int, int, QByteArray>;

class SessionCapsTest : public ::testing::TestWithParam<std::vector<CapStep>>
{
};

// Two sessions, three values (the start time among them) and 200 bytes per session.
TEST_P(SessionCapsTest, Steps_OverCaps_RefusedAndNothingStored)
{
    InProcessServer server({{"sessions/maxSessions", "2"},
                            {"sessions/maxSessionValues", "3"},
                            {"sessions/maxSessionValueBytes", "200"}});
    QList<QByteArray> sessions;
    for (const auto &[path, session, status, body] : GetParam()) {
        const QByteArray id = sessions.value(session);
        HttpAnswer answer = server.post(path, id);
        if (answer.statusCode() == 202)
            answer = server.collect(id, answer);
        if (path.contains("OPEN_SESSION") && answer.statusCode() == 200)
            sessions.append(answer.body);
        EXPECT_EQ(answer.statusLine.mid(9, 3) + ' ' + (body.isNull() ? "" : answer.body),
                  QByteArray::number(status) + ' ' + body);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Caps, SessionCapsTest,
    ::testing::Values(std::vector<CapStep>{{"/OPEN_SESSION", -1, 200, {}},
                                           {"/Mod1/OPEN_SESSION", -1, 200, {}},
                                           {"/OPEN_SESSION", -1, 503, kFull},
                                           {"/Mod1/Cmd1?data=a", -1, 503, kFull},
                                           {"/CLOSE_SESSION", 0, 200, ""},
                                           {"/OPEN_SESSION", -1, 200, {}}},
                      std::vector<CapStep>{
                          {"/Mod1/OPEN_SESSION", -1, 200, {}},
                          {"/SET_SESSION_VAR?key=k1&value=" + QByteArray(190, 'x'), 0, 413, kTooLarge},
                          {"/SET_SESSION_VAR?key=k1&value=a", 0, 200, ""},
                          {"/SET_SESSION_VAR?key=k2&value=b", 0, 200, ""},
                          {"/SET_SESSION_VAR?key=k3&value=c", 0, 413, kTooLarge},
                          {"/SET_SESSION_VAR?key=k1&value=z", 0, 200, ""},
                          {"/Mod1/SessionValue?key=k3", 0, 200, ""},
                          {"/Mod1/SessionValue?key=k1", 0, 200, "z"}},
                      std::vector<CapStep>{
                          {openWith(R"([{"key":"a","value":1},{"key":"b","value":2},{"key":"c","value":3}])"),
                           -1, 413, kTooLarge},
                          {openWith(R"([{"key":"a","value":1},{"key":"b","value":2}])"), -1, 200, {}},
                          {"/Mod1/SessionValue?key=b", 0, 200, "2"},
                          {"/OPEN_SESSION", -1, 200, {}}}));

} // namespace
