#pragma once

#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <gtest/gtest.h>
#include <memory>

// A server with the test modules, run by an ordinary test account, and a keep-alive client
// of that same account: module commands from root would count as the system account's.
// The accounts live for the whole suite.
class ProtocolTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_poOwner = new TestAccount();
        s_poOther = new TestAccount(QStringLiteral("o"));
    }
    static void TearDownTestSuite()
    {
        delete s_poOwner;
        delete s_poOther;
    }

    void SetUp() override
    {
        if (!s_poOwner->valid() || !s_poOther->valid())
            GTEST_SKIP() << "needs root to make test accounts";
        m_iConfiguredPort = findFreePortPair();
        ASSERT_NE(m_iConfiguredPort, 0);
        m_oServer.setIniValue("listener/port", QString::number(m_iConfiguredPort));
        m_oServer.setIniValue("logging/logLevel", "1");
        ASSERT_TRUE(m_oServer.installModules());
    }

    // Starts the server as the owner account and connects the owner's client.
    void startServer(const QStringList &arguments = {QStringLiteral("-console")})
    {
        m_oServer.runAs(s_poOwner);
        ASSERT_TRUE(m_oServer.start(arguments));
        m_iPort = m_oServer.waitForListeningPort();
        ASSERT_NE(m_iPort, 0);
        m_poClient = std::make_unique<TlsClient>(m_iPort, s_poOwner);
    }

    // A server of this account (root in CI: the dispatcher) on the configured port.
    void startDispatcher(ServerProcess &dispatcher) const
    {
        dispatcher.setIniValue("listener/port", QString::number(m_iConfiguredPort));
        ASSERT_TRUE(dispatcher.start());
        ASSERT_EQ(dispatcher.waitForListeningPort(), m_iConfiguredPort);
    }

    static QByteArray sessionHeader(const QByteArray &sessionId)
    {
        return sessionId.isEmpty() ? QByteArray() : "X-VYR-sessionId: " + sessionId + "\r\n";
    }
    HttpAnswer post(const QByteArray &path, const QByteArray &sessionId = {}, const QByteArray &headers = {})
    {
        return m_poClient->post(path, sessionHeader(sessionId) + headers);
    }
    QByteArray openSession() { return post("/OPEN_SESSION").body; }
    HttpAnswer collect(const QByteArray &sessionId, const QByteArray &commandId)
    {
        return pollWhileRunning([&] { return post(resultPath(commandId), sessionId); });
    }

    inline static TestAccount *s_poOwner = nullptr;
    inline static TestAccount *s_poOther = nullptr;
    quint16 m_iConfiguredPort = 0;
    quint16 m_iPort = 0;
    ServerProcess m_oServer;
    std::unique_ptr<TlsClient> m_poClient;
};
