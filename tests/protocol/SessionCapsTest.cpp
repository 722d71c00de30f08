#include "InProcessServer.h"
#include "support/QtPrinters.h"

#include <QUrl>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QByteArray kFull = "The VYR server holds too many sessions. Try again later.";
const QByteArray kTooLarge = "The session cannot hold more values of this size.";

// One request of a case: a session index of -1 sends none; the ID of every session opened
// with 200 is kept in order. A null body is not checked; a job's result is collected.
struct CapStep
{
    QByteArray path;
    int session;
    int status;
    QByteArray body;
};

struct CapCase
{
    const char *name;
    std::vector<CapStep> steps;
};

QByteArray openWithValues(int count)
{
    QByteArray json = "[";
    for (int i = 0; i < count; ++i)
        json += (i ? "," : "") + QByteArray(R"({"key":"k)") + QByteArray::number(i) + R"(","value":1})";
    return "/Mod1/OPEN_SESSION?sessionVars=" + QUrl::toPercentEncoding(QString::fromLatin1(json + "]"));
}

class SessionCapsTest : public ::testing::TestWithParam<CapCase>
{
};

// Two sessions, three values (the start time among them) and 200 bytes per session.
TEST_P(SessionCapsTest, Steps_OverCaps_RefusedAndNothingStored)
{
    InProcessServer server({{"sessions/maxSessions", "2"},
                            {"sessions/maxSessionValues", "3"},
                            {"sessions/maxSessionValueBytes", "200"}});
    QList<QByteArray> sessions;
    for (const CapStep &step : GetParam().steps) {
        const QByteArray id = step.session < 0 ? QByteArray() : sessions.value(step.session);
        HttpAnswer answer = server.post(step.path, id);
        if (answer.statusCode() == 202)
            answer = server.collect(id, answer);
        if (step.path.contains("OPEN_SESSION") && answer.statusCode() == 200)
            sessions.append(answer.body);
        EXPECT_EQ(answer.statusCode(), step.status) << step.path.constData();
        if (!step.body.isNull()) {
            EXPECT_EQ(answer.body, step.body) << step.path.constData();
        }
    }
}

const CapCase kCapCases[] = {
    {"sessions",
     {{"/OPEN_SESSION", -1, 200, {}},
      {"/Mod1/OPEN_SESSION", -1, 200, {}},
      {"/OPEN_SESSION", -1, 503, kFull},
      {"/Mod1/Cmd1?data=a", -1, 503, kFull},
      {"/CLOSE_SESSION", 0, 200, ""},
      {"/OPEN_SESSION", -1, 200, {}}}},
    {"valueCount",
     {{"/Mod1/OPEN_SESSION", -1, 200, {}},
      {"/SET_SESSION_VAR?key=k1&value=a", 0, 200, ""},
      {"/SET_SESSION_VAR?key=k2&value=b", 0, 200, ""},
      {"/SET_SESSION_VAR?key=k3&value=c", 0, 413, kTooLarge},
      {"/SET_SESSION_VAR?key=k1&value=z", 0, 200, ""},
      {"/Mod1/SessionValue?key=k3", 0, 200, ""},
      {"/Mod1/SessionValue?key=k1", 0, 200, "z"}}},
    {"valueBytes",
     {{"/Mod1/OPEN_SESSION", -1, 200, {}},
      {"/SET_SESSION_VAR?key=k1&value=" + QByteArray(190, 'x'), 0, 413, kTooLarge},
      {"/Mod1/SessionValue?key=k1", 0, 200, ""},
      {"/SET_SESSION_VAR?key=k1&value=" + QByteArray(100, 'x'), 0, 200, ""}}},
    {"valuesAtOpening",
     {{openWithValues(3), -1, 413, kTooLarge},
      {openWithValues(2), -1, 200, {}},
      {"/Mod1/SessionValue?key=k1", 0, 200, "1"},
      {"/OPEN_SESSION", -1, 200, {}}}},
};

INSTANTIATE_TEST_SUITE_P(Caps, SessionCapsTest, ::testing::ValuesIn(kCapCases),
                         [](const ::testing::TestParamInfo<CapCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
