#include "http/HttpSessionStore.h"

#include "HttpTestSupport.h"
#include "http/HttpResponse.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

class HttpSessionStoreTest : public HttpLogTest
{
protected:
    void SetUp() override
    {
        HttpLogTest::SetUp();
        m_oIni.settings.setValue(QStringLiteral("expirationTime"), 1500);
        m_pStore = std::make_unique<HttpSessionStore>(&m_oIni.settings);
    }
    // Looks a session up, or opens one as OPEN_SESSION does, for a request carrying this cookie.
    HttpSession getSession(const QByteArray &cookie = {}, bool allowCreate = true)
    {
        Parse parse("POST /m/c HTTP/1.1\r\nCookie: " + cookie + "\r\n\r\n");
        m_pResponse = std::make_unique<HttpResponse>(&m_oWire);
        return m_pStore->getSession(parse.request, *m_pResponse, allowCreate);
    }

    GroupSettings m_oIni{QStringLiteral("sessions")};
    std::unique_ptr<HttpSessionStore> m_pStore;
    QBuffer m_oWire;
    std::unique_ptr<HttpResponse> m_pResponse;
};

TEST_F(HttpSessionStoreTest, GetSession_Create_BracedIdAndCookieMaxAgeInWholeSeconds)
{
    const QByteArray id = getSession().getId();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}$"))
                    .match(QString::fromLatin1(id))
                    .hasMatch())
        << id.toStdString();
    EXPECT_EQ(m_pResponse->cookies().value("sessionid").toHeaderValue(),
              "sessionid=" + id + "; Max-Age=1; Version=1");
    EXPECT_EQ(m_pStore->sessionCount(), 1);
}

TEST_F(HttpSessionStoreTest, GetSession_KnownOrUnknownCookieOrId_SameSessionRefreshedOrNullNothingCreated)
{
    HttpSession opened = getSession();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    opened.setLastAccess(1);
    EXPECT_EQ(getSession("sessionid=" + opened.getId(), false).getId(), opened.getId());
    EXPECT_GE(opened.getLastAccess(), before);
    opened.setLastAccess(1);
    EXPECT_EQ(m_pStore->getSession(opened.getId()).getId(), opened.getId());
    EXPECT_GE(opened.getLastAccess(), before);

    const QByteArray unknown = "{00000000-0000-0000-0000-000000000000}";
    EXPECT_TRUE(getSession("sessionid=" + unknown, false).isNull());
    EXPECT_TRUE(m_pResponse->cookies().isEmpty());
    EXPECT_TRUE(m_pStore->getSession(unknown).isNull());
    EXPECT_EQ(m_pStore->sessionCount(), 1);
}

TEST_F(HttpSessionStoreTest, SweepExpired_IdleExactlyExpirationOrOneMsMore_KeptOrErased)
{
    constexpr qint64 kLastAccess = 1700000000000;
    for (const auto &[idleMs, survives] : {std::pair{1500, true}, std::pair{1501, false}}) {
        HttpSession session = getSession();
        session.setLastAccess(kLastAccess);
        m_pStore->sweepExpired(kLastAccess + idleMs);
        EXPECT_EQ(m_pStore->getSession(session.getId()).isNull(), !survives) << idleMs;
    }
}

TEST_F(HttpSessionStoreTest, RemoveSession_TwoHandles_ValuesSharedAndAliveUntilLastHandleDropped)
{
    auto held = std::make_unique<HttpSession>(getSession());
    HttpSession second = m_pStore->getSession(held->getId());
    held->set("k", 7);
    second.set("s", QStringLiteral("v"));
    EXPECT_EQ(held->get("s"), QVariant(QStringLiteral("v")));
    m_pStore->removeSession(second);
    second = HttpSession();
    EXPECT_TRUE(m_pStore->getSession(held->getId()).isNull());
    EXPECT_EQ(held->getAll(), (QMap<QByteArray, QVariant>{{"k", 7}, {"s", QStringLiteral("v")}}));
    EXPECT_FALSE(logLines().last().endsWith("deleting data"));
    held.reset();
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpSession::release: HttpSession: deleting data");
}

} // namespace
