#include "support/ProgramRun.h"
#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {
const QString kConsentTitle = QStringLiteral("Allow access to your certificates?");
const QString kSignTitle = QStringLiteral("Sign with your certificate");
const QByteArray kPage = "Origin: https://shop.example\r\n";
QByteArray failure(const char *code, const char *message)
{
    return QByteArrayLiteral("500|{\"code\":\"") + code + "\",\"message\":\"" + message + "\"}";
}
const QByteArray kCancelled = failure("CANCELLED", "The user did not allow it.");

ProgramRun shell(const QString &script)
{
    return runProgram(QStringLiteral("sh"), {QStringLiteral("-ec"), script});
}

// One X server, one test account, one server with the shipped signing module over a SoftHSM2
// token (PIN 1234: an RSA and an EC key) and a PKCS#12 file (RSA, password filepass) in the
// user's certificate directory, all issued by one test authority.
class SignerDialogTest : public ::testing::Test
{
protected:
    static inline QTemporaryDir *keys = nullptr;

    static void SetUpTestSuite()
    {
        keys = new QTemporaryDir;
        const ProgramRun made = shell(
            "cd " + keys->path() +
            "\nopenssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=Authority"
            "\nopenssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key"
            "\nopenssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key"
            "\necho keyUsage=critical,digitalSignature,nonRepudiation > ext"
            "\nfor n in rsa ec; do openssl req -new -key $n.key -subj /CN=$n/O=Tests -out $n.csr"
            "\n  openssl x509 -req -in $n.csr -CA ca.pem -CAkey ca.key -days 30 -extfile ext -out $n.pem"
            "\n  openssl x509 -in $n.pem -outform DER -out $n.der; done"
            "\nopenssl pkcs12 -export -inkey rsa.key -in rsa.pem -certfile ca.pem -certpbe NONE"
            " -passout pass:filepass -out file.p12");
        ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    }
    static void TearDownTestSuite() { delete keys; }

    void SetUp() override
    {
        if (!m_oAccount.valid())
            GTEST_SKIP() << "needs root to make a test account";
        m_oX.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-nolisten", "tcp", "-ac", "-screen", "0", "800x600x24"});
        ASSERT_TRUE(waitUntil([&] { return m_oX.canReadLine(); }, 20s));
        m_oDisplay = ':' + QString::fromLatin1(m_oX.readLine().trimmed());
        m_oServer.setIniValue("listener/port", QString::number(findFreePortPair()));
        m_oServer.setIniValue("listener/maxRequestSize", "400000");
        m_oServer.setIniValue("timeout/interval", "5000");
        ASSERT_TRUE(m_oServer.installModules());
        makeStores();
        m_oServer.setEnvironmentValue("DISPLAY", m_oDisplay);
        m_oServer.setEnvironmentValue("TMPDIR", m_oServer.appDir() + "/tmp");
        m_oServer.setEnvironmentValue("SOFTHSM2_CONF", m_oServer.appDir() + "/softhsm2.conf");
        m_oServer.runAs(&m_oAccount);
        ASSERT_TRUE(m_oServer.start({}));
        m_poClient = std::make_unique<TlsClient>(m_oServer.waitForListeningPort(), &m_oAccount);
    }
    // Made as root inside the application directory, which start() hands to the test account.
    void makeStores()
    {
        const QString tool = "pkcs11-tool --module " VYR_SOFTHSM2_LIBRARY " --login --pin 1234 ";
        const ProgramRun made = shell(
            QStringLiteral(
                "cd %1; mkdir -p tmp tokens xdg/data/veltrane/certificates"
                "\ncp %2/file.p12 xdg/data/veltrane/certificates"
                "\nprintf 'directories.tokendir = %1/tokens\\nlog.level = ERROR\\n' > softhsm2.conf"
                "\nexport SOFTHSM2_CONF=%1/softhsm2.conf"
                "\nsofthsm2-util --init-token --free --label 'Test Token' --pin 1234 --so-pin 5678 >/dev/null"
                "\nfor k in 1:rsa 2:ec; do %3 --write-object %2/${k#*:}.key --type privkey --id 0${k%:*}"
                "\n  %3 --write-object %2/${k#*:}.der --type cert --id 0${k%:*}; done >/dev/null"
                "\ncp %4 modules/token.so"
                "\nprintf '[pkcs11]\\nuseProxy=false\\nlibraries=%1/modules/token.so\\n"
                "[origins]\\nallowed=https://shop.example, https://evil.example\\n' > modules/signer.ini")
                .arg(m_oServer.appDir(), keys->path(), tool, m_oTokenLibrary));
        ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    }

    // Starts a GUI command in a session of its own, its form (if any) in the body; the command ID.
    QByteArray start(const QByteArray &path, const QByteArray &headers = {}, const QByteArray &form = {},
                     const QByteArray &contentType = "application/x-www-form-urlencoded")
    {
        m_oSession = m_poClient->post("/OPEN_SESSION").body;
        m_poClient->send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-VYR-sessionId: " + m_oSession +
                         "\r\n" + headers + "Content-Type: " + contentType +
                         "\r\nContent-Length: " + QByteArray::number(form.size()) + "\r\n\r\n" + form);
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
    // The listing for this computer's programs, allowed for good at this first ask.
    QJsonArray listing(const QString &shot = {})
    {
        const QByteArray command = start("/signer/LIST_CERTIFICATES");
        typeInto(kConsentTitle, shot, {"key", "space", "Return"});
        return QJsonDocument::fromJson(result(command)).array();
    }
    static QByteArray idOf(const QJsonArray &listing, const QString &store, const QString &keyType)
    {
        for (const QJsonValue &entry : listing)
            if (entry["store"] == store && entry["keyType"] == keyType)
                return entry["id"].toString().toLatin1();
        return {};
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
    // A secret typed into the signing dialog and confirmed.
    void enter(const QString &secret, const QString &shot = {})
    {
        typeInto(kSignTitle, shot, {"type", secret});
        typeInto(kSignTitle, {}, {"key", "Return"});
    }
    static QByteArray decoded(const QJsonValue &base64)
    {
        return QByteArray::fromBase64(base64.toString().toLatin1());
    }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(m_oFiles.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    }

    QString m_oTokenLibrary = QStringLiteral(VYR_SOFTHSM2_LIBRARY);
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
    QTemporaryDir m_oFiles;
};

// A local program is asked once and then remembered; a page that names itself the local program
// through a parameter is still asked, and its Escape reaches it as CANCELLED.
TEST_F(SignerDialogTest, Listing_RememberedForProgram_ForgedOriginStillAskedAndCancelled)
{
    const QJsonArray listed = listing("consent");
    EXPECT_EQ(listed.size(), 3);
    EXPECT_FALSE(idOf(listed, "Test Token", "RSA").isEmpty());
    EXPECT_FALSE(idOf(listed, "Test Token", "EC").isEmpty());
    EXPECT_FALSE(idOf(listed, "file.p12", "RSA").isEmpty());
    // Answered with no dialog to type into (the token's own order may change between calls).
    EXPECT_EQ(QJsonDocument::fromJson(result(start("/signer/LIST_CERTIFICATES"))).array().size(), 3);
    const QByteArray forged =
        start("/signer/LIST_CERTIFICATES?keyHttpOrigin=", "Origin: https://evil.example\r\n");
    typeInto(kConsentTitle, {}, {"key", "Escape"});
    EXPECT_EQ(result(forged), kCancelled);
}

// Each algorithm on the token's key for it, a batch of three after one PIN entry, verified by
// openssl against the certificate in the answer. The first dialog also takes a wrong PIN, the
// last a hostile description.
TEST_F(SignerDialogTest, Sign_EachTokenAlgorithm_BatchAfterOnePinVerifiedByOpenssl)
{
    const QJsonArray listed = listing();
    const QString pss = QStringLiteral("-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest");
    const struct
    {
        const char *keyType, *algorithm, *digest;
        QString verifyOptions;
        QByteArray description;
    } cases[] = {
        {"RSA", "RSA-PKCS1", "SHA-256", {}, "Order 1042, 3 invoices"},
        {"RSA", "RSA-PSS", "SHA-384", pss, {}},
        {"EC", "ECDSA", "SHA-512", {}, "<b>Pay</b> \x01\x1b[2J\u202e 100 EUR " + QByteArray(100000, 'x')}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.algorithm);
        const bool first = &c == &cases[0];
        QByteArray form = "id=" + idOf(listed, "Test Token", c.keyType) + "&algorithm=" + c.algorithm +
                          "&digestAlgorithm=" + c.digest +
                          "&description=" + QUrl::toPercentEncoding(c.description);
        for (char i = '0'; i < '3'; ++i)
            form += "&data=" + QUrl::toPercentEncoding(QByteArray("item ").append(i).toBase64());
        const QByteArray command = start("/signer/SIGN", kPage, form);
        if (first)
            enter("0000", "token-pin");
        enter("1234", first ? "token-wrong-pin" : QString());
        const QJsonObject answer = QJsonDocument::fromJson(result(command)).object();
        ASSERT_EQ(answer["signatures"].toArray().size(), 3) << QJsonDocument(answer).toJson().constData();
        write("cert.der", decoded(answer["certificate"]));
        for (char i = '0'; i < '3'; ++i) {
            write("data", QByteArray("item ").append(i));
            write("sig", decoded(answer["signatures"][i - '0']));
            const ProgramRun verified =
                shell(QStringLiteral("cd %1; openssl x509 -inform DER -in cert.der -pubkey -noout > pub.pem\n"
                                     "openssl dgst -%2 -verify pub.pem -signature sig %3 data")
                          .arg(m_oFiles.path(), QString::fromLatin1(c.digest).remove('-').toLower(),
                               c.verifyOptions));
            EXPECT_EQ(verified.output.trimmed(), "Verified OK");
        }
    }
}

// The file's key behind its password: detached and enveloping CMS both pass openssl's
// verification up to the test authority, with the four signed attributes a CAdES signature has.
TEST_F(SignerDialogTest, SignCms_Pkcs12DetachedAndEnveloping_OpensslVerifiesToAuthority)
{
    const QByteArray id = idOf(listing(), "file.p12", "RSA");
    const QString content = write("content", "the contract");
    for (const QByteArray detached : {"true", "false"}) {
        SCOPED_TRACE(detached.constData());
        const QByteArray command =
            start("/signer/SIGN_CMS", kPage,
                  "id=" + id + "&data=" + QUrl::toPercentEncoding(QByteArray("the contract").toBase64()) +
                      "&detached=" + detached);
        enter("filepass", detached == "true" ? "pkcs12-password" : QString());
        const QJsonObject answer = QJsonDocument::fromJson(result(command)).object();
        write("cms.der", decoded(answer["signature"]));
        const QString cms = QStringLiteral("openssl cms -inform DER -in %1/cms.der ").arg(m_oFiles.path());
        const ProgramRun verified =
            shell(cms + "-verify -binary -CAfile " + keys->filePath("ca.pem") + " -out " +
                  m_oFiles.filePath("out") + (detached == "true" ? " -content " + content : QString()));
        EXPECT_EQ(verified.exitCode, 0) << verified.output.toStdString();
        EXPECT_EQ(shell("cmp " + content + ' ' + m_oFiles.filePath("out")).exitCode, 0);
        const QString printed = shell(cms + "-cmsout -print").output;
        for (const char *attribute :
             {"contentType (1.2.840.113549.1.9.3)", "messageDigest (1.2.840.113549.1.9.4)",
              "signingTime (1.2.840.113549.1.9.5)", "signingCertificateV2 (1.2.840.113549.1.9.16.2.47)"})
            EXPECT_TRUE(printed.contains(QLatin1String(attribute))) << attribute;
    }
}

// While one dialog is open a second GUI request gets the server's 503, and Escape cancels; a
// token gone after the listing is reported as such; a dialog left alone closes with its
// session's timeout, and the command ends CANCELLED.
TEST_F(SignerDialogTest, Sign_BusyCancelRemovedTokenAndTimeout_ExactReplies)
{
    const QJsonArray listed = listing();
    const QByteArray token = "id=" + idOf(listed, "Test Token", "RSA") + "&data=YQ==";
    const QByteArray open = start("/signer/SIGN", kPage, token);
    typeInto(kSignTitle, {}, {"search", "--sync", "--name", kSignTitle});
    const QByteArray other = m_poClient->post("/OPEN_SESSION").body;
    const HttpAnswer busy = m_poClient->post("/signer/SIGN?" + token, "X-VYR-sessionId: " + other + "\r\n");
    EXPECT_EQ(busy.statusLine + ' ' + busy.body,
              "HTTP/1.1 503 Service Unavailable The VYR server is busy performing "
              "another gui request. Try again later.");
    typeInto(kSignTitle, {}, {"key", "Escape"});
    EXPECT_EQ(result(open), kCancelled);
    const QString conf = "SOFTHSM2_CONF=" + m_oServer.appDir() + "/softhsm2.conf ";
    ASSERT_EQ(shell(conf + "softhsm2-util --delete-token --token 'Test Token'").exitCode, 0);
    EXPECT_EQ(result(start("/signer/SIGN", kPage, token)),
              failure("TOKEN_ABSENT", "The token that holds this certificate is no longer there."));
    start("/signer/SIGN", kPage, "id=" + idOf(listed, "file.p12", "RSA") + "&data=YQ==");
    typeInto(kSignTitle, {}, {"search", "--sync", "--name", kSignTitle});
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + m_oSession, 20s));
    EXPECT_TRUE(
        waitUntil([&] { return m_oServer.logText().count(QString::fromLatin1(kCancelled)) == 2; }, 20s));
}

// Three pages made here, signed visibly with the token's EC key as a file upload, then that output
// signed again with the PKCS#12 file sent inline: poppler finds both signatures valid, the last
// covering the whole file, qpdf finds nothing wrong, and the server kept no copy of the uploads.
TEST_F(SignerDialogTest, SignPdf_UploadThenInline_BothValidInPdfsigAndNoUploadLeft)
{
    const QJsonArray listed = listing();
    const ProgramRun made = shell(
        "cd " + m_oFiles.path() +
        "\n{ echo '%PDF-1.7'; echo '1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj'"
        "\necho '2 0 obj << /Type /Pages /Count 3 /Kids [3 0 R 4 0 R 5 0 R] >> endobj'"
        "\nfor i in 3 4 5; do echo \"$i 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >> "
        "endobj\"; done"
        "\necho 'trailer << /Root 1 0 R /Size 6 >>'; } > raw.pdf\nqpdf raw.pdf three.pdf || [ $? = 3 ]");
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    QFile original(m_oFiles.filePath("three.pdf"));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray boundary = "vyr7MA4YWxkTrZu0gW",
                     part = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"";
    QByteArray body;
    for (const auto &[name, value] :
         {std::pair<QByteArray, QByteArray>{"id", idOf(listed, "Test Token", "EC")},
          {"page", "2"},
          {"rect", "300,100,520,160"},
          {"reason", "Approved"}})
        body += part + name + "\"\r\n\r\n" + value + "\r\n";
    body += part + "document\"; filename=\"contract.pdf\"\r\nContent-Type: application/pdf\r\n\r\n" +
            original.readAll() + "\r\n--" + boundary + "--\r\n";
    const QByteArray uploaded =
        start("/signer/SIGN_PDF", kPage, body, "multipart/form-data; boundary=" + boundary);
    enter("1234", "pdf-dialog");
    const QByteArray once = decoded(QJsonDocument::fromJson(result(uploaded)).object()["document"]);
    const QByteArray again = start("/signer/SIGN_PDF", kPage,
                                     "id=" + idOf(listed, "file.p12", "RSA") +
                                         "&document=" + QUrl::toPercentEncoding(once.toBase64()));
    enter("filepass");
    const QString out =
        write("twice.pdf", decoded(QJsonDocument::fromJson(result(again)).object()["document"]));
    QStringList reports = shell("pdfsig " + out).output.split(QStringLiteral("Signature #"));
    reports.removeFirst();
    ASSERT_EQ(reports.size(), 2);
    for (const char *signer : {"ec", "rsa"}) {
        const QString &report = reports[signer == QByteArray("ec") ? 0 : 1];
        EXPECT_TRUE(report.contains("Signature is Valid") && report.contains("ETSI.CAdES.detached") &&
                    report.contains(QStringLiteral("Common Name: ") + signer) &&
                    report.contains("Total document signed") == (signer == QByteArray("rsa")))
            << report.toStdString();
    }
    EXPECT_EQ(shell("qpdf --check " + out).exitCode, 0);
    const auto left = [&] {
        return QDir(m_oServer.appDir() + "/tmp", QStringLiteral("vyr-upload-*")).entryList(QDir::Files);
    };
    EXPECT_TRUE(waitUntil([&] { return left().isEmpty(); }, 10s)) << left().join(' ').toStdString();
}

// A token that reports its PIN locked; login would still work underneath, so a PIN tried would
// sign. The dialog says so from the start, its PIN field disabled; closing it reports the lock.
class LockedTokenTest : public SignerDialogTest
{
protected:
    LockedTokenTest() { m_oTokenLibrary = QStringLiteral(VYR_LOCKED_TOKEN); }
};

TEST_F(LockedTokenTest, Sign_LockedPin_ReportedAndNeverTried)
{
    const QByteArray command =
        start("/signer/SIGN", kPage, "id=" + idOf(listing(), "Test Token", "EC") + "&data=YQ==");
    typeInto(kSignTitle, "token-locked", {"type", "1234"});
    typeInto(kSignTitle, {}, {"key", "Escape"});
    EXPECT_EQ(result(command), failure("PIN_LOCKED", "The PIN is locked."));
}

} // namespace
