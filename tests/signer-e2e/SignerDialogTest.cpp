#include "support/ProgramRun.h"
#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {
// The test build's one key (tests/signer-e2e/FileKeyStore.cpp).
const QByteArray kKeyId = "5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ff";

const QString kConsentTitle = QStringLiteral("Allow access to your certificates?");
const QString kSignTitle = QStringLiteral("Sign with your certificate");
const QByteArray kCancelled = R"(500|{"code":"CANCELLED","message":"The user did not allow it."})";

// One X server, one test account, one server with the test build of the signing module and
// its PIN-protected file key (PIN 1234).
class SignerDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_oAccount.valid())
            GTEST_SKIP() << "needs root to make a test account";
        m_oX.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-nolisten", "tcp", "-ac", "-screen", "0", "800x600x24"});
        ASSERT_TRUE(waitUntil([&] { return m_oX.canReadLine(); }, 20s));
        m_oDisplay = ':' + QString::fromLatin1(m_oX.readLine().trimmed());
        m_oServer.setIniValue("listener/port", QString::number(findFreePortPair()));
        m_oServer.setIniValue("timeout/interval", "5000");
        ASSERT_TRUE(m_oServer.installModules());
        const QString modules = m_oServer.appDir() + "/modules/";
        QFile::remove(modules + "signer.so");
        ASSERT_TRUE(QFile::copy(VYR_SIGNER_TEST_MODULE_DIR "/signer.so", modules + "signer.so"));
        makeKey(m_oServer.appDir() + "/xdg/data/veltrane/test-key/");
        m_oServer.setEnvironmentValue("DISPLAY", m_oDisplay);
        m_oServer.runAs(&m_oAccount);
        ASSERT_TRUE(m_oServer.start({}));
        m_poClient = std::make_unique<TlsClient>(m_oServer.waitForListeningPort(), &m_oAccount);
    }
    static void makeKey(const QString &directory)
    {
        QDir().mkpath(directory);
        for (const QStringList &step :
             {QStringList{"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-aes256",
                          "-pass", "pass:1234", "-out", directory + "key.pem"},
              QStringList{"req", "-new", "-x509", "-key", directory + "key.pem", "-passin", "pass:1234",
                          "-subj", "/CN=Test Signer/O=Veltrane Tests", "-outform", "DER", "-out",
                          directory + "cert.der"}})
            ASSERT_EQ(runProgram("openssl", step).exitCode, 0);
    }

    // Starts a GUI command in a session of its own, its form (if any) in the body; the command ID.
    QByteArray start(const QByteArray &path, const QByteArray &headers = {}, const QByteArray &form = {})
    {
        m_oSession = m_poClient->post("/OPEN_SESSION").body;
        m_poClient->send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-VYR-sessionId: " + m_oSession +
                         "\r\n" + headers +
                         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                         QByteArray::number(form.size()) + "\r\n\r\n" + form);
        const HttpAnswer answer = m_poClient->readAnswer();
        EXPECT_EQ(answer.statusCode(), 202) << answer.body.constData();
        return answer.headers.value("X-VYR-cmdId");
    }
    QByteArray result(const QByteArray &commandId)
    {
        return pollWhileRunning([&] {
                   return m_poClient->post(resultPath(commandId), "X-VYR-sessionId: " + m_oSession + "\r\n");
               })
            .body;
    }

    ProgramRun x(const QString &program, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_oDisplay);
        return runProgram(program, arguments, environment, 20000);
    }
    // Waits for the window, gives it the keyboard, keeps a picture of the screen, then types.
    void typeInto(const QString &title, const QString &shot, const QStringList &keystrokes)
    {
        const QString window =
            x("xdotool", {"search", "--sync", "--onlyvisible", "--name", title}).output.trimmed();
        ASSERT_FALSE(window.isEmpty()) << title.toStdString();
        ASSERT_EQ(x("xdotool", {"windowfocus", "--sync", window}).exitCode, 0);
        if (!shot.isEmpty()) {
            QDir().mkpath(VYR_TEST_OUTPUT_DIR);
            EXPECT_EQ(x("import", {"-window", "root", VYR_TEST_OUTPUT_DIR "/" + shot + ".png"}).exitCode, 0);
        }
        ASSERT_EQ(x("xdotool", keystrokes).exitCode, 0);
    }

    TestAccount m_oAccount;
    // Ends after the server, whose display it is.
    struct XServer : QProcess
    {
        ~XServer() override
        {
            terminate();
            waitForFinished();
        }
    } m_oX;
    QString m_oDisplay;
    ServerProcess m_oServer;
    std::unique_ptr<TlsClient> m_poClient;
    QByteArray m_oSession;
};

// A local program is allowed for good; a page that names itself the local program through a
// parameter is still asked, and its Escape reaches it as CANCELLED.
TEST_F(SignerDialogTest, Listing_RememberedForProgram_ForgedOriginStillAskedAndCancelled)
{
    const QByteArray first = start("/signer/LIST_CERTIFICATES");
    typeInto(kConsentTitle, "consent", {"key", "space", "Return"});
    const QJsonDocument listing = QJsonDocument::fromJson(result(first));
    EXPECT_EQ(listing[0]["id"].toString().toLatin1(), kKeyId);
    EXPECT_EQ(listing[0]["subject"].toString(), "O=Veltrane Tests,CN=Test Signer");
    EXPECT_EQ(QJsonDocument::fromJson(result(start("/signer/LIST_CERTIFICATES"))), listing);
    const QByteArray forged =
        start("/signer/LIST_CERTIFICATES?keyHttpOrigin=", "Origin: https://evil.example\r\n");
    typeInto(kConsentTitle, "consent-page", {"key", "Escape"});
    EXPECT_EQ(result(forged), kCancelled);
}

// A wrong PIN keeps the dialog open; the right one signs both items, each in its place, as
// openssl verifies against the certificate in the answer.
TEST_F(SignerDialogTest, Sign_WrongThenRightPin_BatchVerifiedByOpenssl)
{
    const QList<QByteArray> items{"first item", "second item"};
    const QByteArray form =
        "id=" + kKeyId + "&data=" + QUrl::toPercentEncoding(items[0].toBase64()) +
        "&data=" + QUrl::toPercentEncoding(items[1].toBase64()) + "&description=" +
        QUrl::toPercentEncoding("<b>Pay</b> \x01\x1b[2J\u202e 100 EUR " + QByteArray(12000, 'x'));
    const QByteArray command = start("/signer/SIGN", "Origin: https://shop.example\r\n", form);
    typeInto(kSignTitle, "sign", {"type", "0000"});
    typeInto(kSignTitle, {}, {"key", "Return"});
    typeInto(kSignTitle, "sign-wrong-pin", {"type", "1234"});
    typeInto(kSignTitle, {}, {"key", "Return"});
    const QJsonObject answer = QJsonDocument::fromJson(result(command)).object();
    ASSERT_EQ(answer["algorithm"].toString(), "ECDSA") << QJsonDocument(answer).toJson().constData();
    const QTemporaryDir files;
    const auto write = [&](const char *name, const QJsonValue &base64) {
        QFile file(files.filePath(name));
        return file.open(QIODevice::WriteOnly) &&
               file.write(QByteArray::fromBase64(base64.toString().toLatin1())) > 0;
    };
    ASSERT_TRUE(write("cert.der", answer["certificate"]));
    ASSERT_EQ(runProgram("openssl", {"x509", "-inform", "DER", "-in", files.filePath("cert.der"), "-pubkey",
                                     "-noout", "-out", files.filePath("pub.pem")})
                  .exitCode,
              0);
    for (int i = 0; i < items.size(); ++i) {
        ASSERT_TRUE(write("data", QString::fromLatin1(items[i].toBase64())) &&
                    write("sig", answer["signatures"][i]));
        EXPECT_EQ(runProgram("openssl", {"dgst", "-sha256", "-verify", files.filePath("pub.pem"),
                                         "-signature", files.filePath("sig"), files.filePath("data")})
                      .output.trimmed(),
                  "Verified OK");
    }
}

// While one dialog is open, a second GUI request gets the server's 503; Escape cancels. A
// dialog left alone closes with its session's timeout, and the command ends CANCELLED too.
TEST_F(SignerDialogTest, Sign_BusyCancelAndTimeout_503ThenCancelledTwice)
{
    const QByteArray open = start("/signer/SIGN?id=" + kKeyId + "&data=YQ==");
    typeInto(kSignTitle, {}, {"search", "--sync", "--name", kSignTitle});
    const QByteArray other = m_poClient->post("/OPEN_SESSION").body;
    const HttpAnswer busy =
        m_poClient->post("/signer/SIGN?id=" + kKeyId + "&data=YQ==", "X-VYR-sessionId: " + other + "\r\n");
    EXPECT_EQ(busy.statusLine + ' ' + busy.body,
              "HTTP/1.1 503 Service Unavailable The VYR server is busy performing "
              "another gui request. Try again later.");
    typeInto(kSignTitle, {}, {"key", "Escape"});
    EXPECT_EQ(result(open), kCancelled);
    start("/signer/SIGN?id=" + kKeyId + "&data=YQ==");
    typeInto(kSignTitle, {}, {"search", "--sync", "--name", kSignTitle});
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + m_oSession, 20s));
    EXPECT_TRUE(
        waitUntil([&] { return m_oServer.logText().count(QString::fromLatin1(kCancelled)) == 2; }, 20s));
}

} // namespace
