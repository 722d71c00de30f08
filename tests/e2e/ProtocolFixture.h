#pragma once

#include "support/AccountClient.h"
#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <unistd.h>

// A server with the test modules, run by an ordinary test account, and a keep-alive
// client of that same account: module commands from root would count as the system
// account's. The accounts live for the whole suite.
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
        s_poOwner = s_poOther = nullptr;
    }

    void SetUp() override
    {
        if (::geteuid() != 0 || !s_poOwner->valid() || !s_poOther->valid())
            GTEST_SKIP() << "needs root to make test accounts";
        m_iConfiguredPort = findFreePortPair();
        ASSERT_NE(m_iConfiguredPort, 0);
        m_oServer.setIniValue("listener/port", QString::number(m_iConfiguredPort));
        m_oServer.setIniValue("logging/logLevel", "1");
        ASSERT_TRUE(m_oServer.provisionCertificates());
        ASSERT_TRUE(m_oServer.installModules());
    }

    void TearDown() override
    {
        if (HasFailure()) {
            const QStringList lines = m_oServer.logLines();
            std::cerr << "---- server log (last lines) ----\n";
            for (const QString &line : lines.mid(qMax<qsizetype>(0, lines.size() - 40)))
                std::cerr << line.toStdString() << '\n';
            std::cerr << "---- server stderr ----\n" << m_oServer.standardError().toStdString() << '\n';
        }
    }

    // Starts the server as the owner account and connects the owner's client.
    void startServer(const QStringList &arguments = {QStringLiteral("-console")})
    {
        m_oServer.runAs(s_poOwner);
        ASSERT_TRUE(m_oServer.start(arguments));
        m_iPort = m_oServer.waitForListeningPort();
        ASSERT_NE(m_iPort, 0);
        m_poClient = std::make_unique<AccountClient>(m_iPort, s_poOwner);
    }

    HttpAnswer post(const QByteArray &path, const QByteArray &sessionId = {},
                    const QByteArray &extraHeaders = {})
    {
        const QByteArray session =
            sessionId.isEmpty() ? QByteArray() : "X-VYR-sessionId: " + sessionId + "\r\n";
        return m_poClient->post(path, session + extraHeaders);
    }

    QByteArray openSession(const QByteArray &path = "/OPEN_SESSION")
    {
        const HttpAnswer answer = post(path);
        return answer.statusCode() == 200 ? answer.body : QByteArray();
    }

    // Polls GET_RESULT until the job is no longer running.
    HttpAnswer collect(const QByteArray &sessionId, const QByteArray &commandId,
                       AccountClient *client = nullptr)
    {
        AccountClient &poller = client ? *client : *m_poClient;
        HttpAnswer answer;
        waitUntil(
            [&] {
                answer = poller.post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(commandId),
                                     "X-VYR-sessionId: " + sessionId + "\r\n");
                return answer.statusCode() != 202;
            },
            std::chrono::seconds(20));
        return answer;
    }

    QString sharedFile(const QString &name) const { return m_oServer.appDir() + "/" + name; }

    static bool isBracedUuid(const QByteArray &text)
    {
        static const QRegularExpression uuid(
            QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
        return uuid.match(QString::fromLatin1(text)).hasMatch();
    }

    static TestAccount *s_poOwner;
    static TestAccount *s_poOther;
    quint16 m_iConfiguredPort = 0;
    quint16 m_iPort = 0;
    ServerProcess m_oServer;
    std::unique_ptr<AccountClient> m_poClient;
};
