#include "HttpTestSupport.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"

#include <QBuffer>
#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

class HttpSessionStoreTest : public HttpLogTest
{
protected:
    void SetUp() override
    {
        HttpLogTest::SetUp();
        m_oIni.settings().setValue(QStringLiteral("expirationTime"), 1500);
    }

    std::unique_ptr<HttpSessionStore> makeStore()
    {
        return std::make_unique<HttpSessionStore>(&m_oIni.settings());
    }

    // A request whose cookie header is cookieHeader (none when empty).
    std::unique_ptr<HttpRequest> makeRequest(const QByteArray &cookieHeader = QByteArray())
    {
        auto request = std::make_unique<HttpRequest>(HttpRequest::kDefaultMaxRequestSize,
                                                     HttpRequest::kDefaultMaxMultiPartSize);
        TrickleDevice device;
        QByteArray bytes = "POST /m/c HTTP/1.1\r\n";
        if (!cookieHeader.isEmpty())
            bytes += "Cookie: " + cookieHeader + "\r\n";
        device.feed(bytes + "\r\n");
        request->receive(device);
        return request;
    }

    // Opens a session the way OPEN_SESSION does.
    HttpSession openSession(HttpSessionStore &store)
    {
        auto request = makeRequest();
        HttpResponse response(&m_oWire);
        return store.getSession(*request, response, true);
    }

    GroupSettings m_oIni{QStringLiteral("sessions")};
    QBuffer m_oWire;
};

TEST_F(HttpSessionStoreTest, GetSession_Create_BracedLowerCaseIdAndCookie)
{
    m_oIni.settings().setValue(QStringLiteral("cookiePath"), QStringLiteral("/p"));
    m_oIni.settings().setValue(QStringLiteral("cookieComment"), QStringLiteral("c"));
    m_oIni.settings().setValue(QStringLiteral("cookieDomain"), QStringLiteral("d"));
    auto store = makeStore();
    auto request = makeRequest();
    HttpResponse response(&m_oWire);
    const HttpSession session = store->getSession(*request, response, true);

    ASSERT_FALSE(session.isNull());
    static const QRegularExpression idForm(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    EXPECT_TRUE(idForm.match(QString::fromLatin1(session.getId())).hasMatch()) << session.getId().toStdString();
    // 1500 ms is one whole second.
    EXPECT_EQ(response.cookies().value("sessionid").toHeaderValue(),
              "sessionid=" + session.getId() + "; Comment=c; Domain=d; Max-Age=1; Path=/p; Version=1");
    EXPECT_EQ(store->sessionCount(), 1);
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpSessionStore::getSession: HttpSessionStore: create new "
                                 "session with ID " +
                                     QString::fromLatin1(session.getId()));
}

TEST_F(HttpSessionStoreTest, GetSession_CookieOfKnownSession_SameSessionRefreshed)
{
    m_oIni.settings().setValue(QStringLiteral("cookieName"), QStringLiteral("sid"));
    auto store = makeStore();
    HttpSession opened = openSession(*store);
    opened.setLastAccess(1);
    auto request = makeRequest("sid=" + opened.getId());
    HttpResponse response(&m_oWire);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();

    const HttpSession found = store->getSession(*request, response, false);

    EXPECT_EQ(found.getId(), opened.getId());
    EXPECT_GE(opened.getLastAccess(), before);
    EXPECT_EQ(response.cookies().value("sid").value(), opened.getId());
    EXPECT_EQ(store->sessionCount(), 1);
}

TEST_F(HttpSessionStoreTest, GetSession_UnknownIds_NullAndNothingCreated)
{
    auto store = makeStore();
    auto request = makeRequest("sessionid={00000000-0000-0000-0000-000000000000}");
    HttpResponse response(&m_oWire);

    EXPECT_EQ(store->getSessionId(*request, response), "");
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpSessionStore::getSessionId: HttpSessionStore: received "
                                 "invalid session cookie with ID {00000000-0000-0000-0000-000000000000}");
    EXPECT_TRUE(store->getSession(*request, response, false).isNull());
    EXPECT_TRUE(store->getSession("{00000000-0000-0000-0000-000000000000}").isNull());
    EXPECT_TRUE(store->getSession(QByteArray()).isNull());
    EXPECT_TRUE(response.cookies().isEmpty());
    EXPECT_EQ(store->sessionCount(), 0);
}

TEST_F(HttpSessionStoreTest, GetSessionId_ResponseCookie_PreferredOverRequestCookie)
{
    auto store = makeStore();
    const HttpSession first = openSession(*store);
    const HttpSession second = openSession(*store);
    auto request = makeRequest("sessionid=" + first.getId());
    HttpResponse response(&m_oWire);
    response.setCookie(HttpCookie("sessionid", second.getId(), 0));
    EXPECT_EQ(store->getSessionId(*request, response), second.getId());
}

TEST_F(HttpSessionStoreTest, GetSessionById_Found_RefreshesLastAccess)
{
    auto store = makeStore();
    HttpSession opened = openSession(*store);
    opened.setLastAccess(1);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    EXPECT_EQ(store->getSession(opened.getId()).getId(), opened.getId());
    EXPECT_GE(opened.getLastAccess(), before);
}

struct ExpiryCase
{
    const char *name;
    qint64 idleMs;
    bool survives;
};

class HttpSessionExpiryTest : public HttpSessionStoreTest, public ::testing::WithParamInterface<ExpiryCase>
{
};

TEST_P(HttpSessionExpiryTest, Sweep_IdleTime_ErasedOnlyPastExpiration)
{
    auto store = makeStore();
    HttpSession session = openSession(*store);
    const QByteArray id = session.getId();
    constexpr qint64 kLastAccess = 1700000000000;
    session.setLastAccess(kLastAccess);
    const qsizetype linesBefore = logLines().size();

    store->sweepExpired(kLastAccess + GetParam().idleMs);

    EXPECT_EQ(store->getSession(id).isNull(), !GetParam().survives);
    const QStringList expectedLog =
        GetParam().survives ? QStringList()
                            : QStringList{"[VYR-server]:HttpSessionStore::sweepExpired: HttpSessionStore: session " +
                                          QString::fromLatin1(id) + " expired"};
    EXPECT_EQ(logLinesSince(linesBefore), expectedLog);
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpSessionExpiryTest,
                         ::testing::Values(ExpiryCase{"Fresh", 0, true}, ExpiryCase{"ExactlyExpiration", 1500, true},
                                           ExpiryCase{"OneMillisecondMore", 1501, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(HttpSessionStoreTest, SessionTimerEvent_FreshAndStale_OnlyStaleErased)
{
    auto store = makeStore();
    const HttpSession fresh = openSession(*store);
    HttpSession stale = openSession(*store);
    stale.setLastAccess(QDateTime::currentMSecsSinceEpoch() - 10000);
    store->sessionTimerEvent();
    EXPECT_FALSE(store->getSession(fresh.getId()).isNull());
    EXPECT_TRUE(store->getSession(stale.getId()).isNull());
}

TEST_F(HttpSessionStoreTest, Handles_TwoHandles_ShareValues)
{
    auto store = makeStore();
    HttpSession first = openSession(*store);
    HttpSession second = store->getSession(first.getId());
    first.set("k", 1);
    second.set("s", QStringLiteral("v"));
    EXPECT_TRUE(second.contains("k"));
    EXPECT_EQ(second.getAll(), (QMap<QByteArray, QVariant>{{"k", 1}, {"s", QStringLiteral("v")}}));
    EXPECT_EQ(first.get("s"), QVariant(QStringLiteral("v")));
}

TEST_F(HttpSessionStoreTest, RemoveSession_HandleHeld_DataLivesUntilHandleDropped)
{
    auto store = makeStore();
    auto held = std::make_unique<HttpSession>(openSession(*store));
    held->set("k", 7);
    const QByteArray id = held->getId();
    const qsizetype linesBefore = logLines().size();

    store->removeSession(*held);
    EXPECT_TRUE(store->getSession(id).isNull());
    EXPECT_EQ(held->getAll(), (QMap<QByteArray, QVariant>{{"k", 7}}));
    EXPECT_EQ(logLinesSince(linesBefore), QStringList());

    held.reset();
    EXPECT_EQ(logLinesSince(linesBefore),
              QStringList{"[VYR-server]:HttpSession::release: HttpSession: deleting data"});
}

TEST_F(HttpSessionStoreTest, Assign_OverLastReference_OldDataFreedNewRefreshed)
{
    HttpSession target(true);
    HttpSession source(true);
    source.setLastAccess(5);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    target = source;
    target = target;
    EXPECT_EQ(target.getId(), source.getId());
    EXPECT_GE(source.getLastAccess(), before);
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpSession::release: HttpSession: deleting old data");
}

TEST_F(HttpSessionStoreTest, Publish_StoreDestroyed_NoLongerPublished)
{
    auto store = makeStore();
    HttpSessionStore::publish(store.get());
    EXPECT_EQ(HttpSessionStore::published(), store.get());
    store.reset();
    EXPECT_EQ(HttpSessionStore::published(), nullptr);
}

TEST_F(HttpSessionStoreTest, Construction_NoKeys_DefaultsAndLogLine)
{
    GroupSettings empty(QStringLiteral("sessions"));
    HttpSessionStore store(&empty.settings());
    EXPECT_EQ(store.cookieName(), "sessionid");
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpSessionStore::HttpSessionStore: HttpSessionStore: Sessions "
                                 "expire after 3600000 milliseconds");
}

} // namespace
