#include "InProcessServer.h"
#include "Pkcs12Store.h"
#include "support/ProgramRun.h"
#include "support/QtPrinters.h"

#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QByteArray kNotPdf =
    R"(500|{"code":"BAD_INPUT","message":"The document is not a PDF: it does not begin with a PDF header."})";
const QByteArray kForbidden = "HTTP/1.1 403 Forbidden You don't have permissions to access this resource.";
// A page origin of its own allowed in the user's settings, and one EC key in a PKCS#12 file.
const char kHome[] =
    "mkdir -p config/veltrane data/veltrane/certificates\n"
    "printf '[origins]\\nallowed=https://shop.example\\n[pkcs11]\\nuseProxy=false\\n[nss]\\ndatabase=\\n' "
    "> config/veltrane/signer.ini\n"
    "cd data/veltrane/certificates\n"
    "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout k.pem -out c.pem "
    "-subj /CN=ec\n"
    "openssl pkcs12 -export -inkey k.pem -in c.pem -certpbe NONE -passout pass:p -out ec.p12\n"
    "cd - >/dev/null; mkdir tmp; printf '%%PDF-1.7\\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\\n"
    "2 0 obj << /Type /Pages /Count 1 /Kids [3 0 R] >> endobj\\n3 0 obj << /Type /Page /Parent 2 0 R "
    "/MediaBox [0 0 595 842] >> endobj\\ntrailer << /Root 1 0 R /Size 4 >>\\n' > raw.pdf\n"
    "qpdf raw.pdf one.pdf || [ $? = 3 ]; qpdf --encrypt u o 256 -- one.pdf encrypted.pdf";

// The shipped signing module over the request path, reading the user's files from a home of
// its own. This process has no QApplication, like a server started with -console: a request
// that gets as far as a dialog is cancelled with a sentence of its own.
class SignerRequestTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_oHome.isValid());
        qputenv("XDG_CONFIG_HOME", m_oHome.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_oHome.filePath("data").toUtf8());
        qputenv("TMPDIR", m_oHome.filePath("tmp").toUtf8());
        const ProgramRun made = runProgram("sh", {"-ec", "cd " + m_oHome.path() + "; " + kHome});
        ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
        m_oKeyId =
            vyr::signer::Pkcs12Store(m_oHome.filePath("data/veltrane/certificates")).list().value(0).id;
        ASSERT_EQ(m_oKeyId.size(), 64);
        m_oSession = m_oServer.openSession();
    }

    HttpAnswer post(const QByteArray &command, const QByteArray &form,
                    const QByteArray &origin = "https://shop.example",
                    const QByteArray &contentType = "application/x-www-form-urlencoded")
    {
        return m_oServer.send("POST /signer/" + command +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-VYR-sessionId: " + m_oSession +
                              "\r\nOrigin: " + origin + "\r\nContent-Type: " + contentType +
                              "\r\nContent-Length: " + QByteArray::number(form.size()) + "\r\n\r\n" + form);
    }
    QByteArray result(const HttpAnswer &started)
    {
        EXPECT_EQ(started.statusCode(), 202) << started.body.constData();
        return m_oServer.collect(m_oSession, started).body;
    }

    QByteArray base64Of(const char *name) const
    {
        QFile file(m_oHome.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toBase64() : QByteArray();
    }

    QTemporaryDir m_oHome;
    InProcessServer m_oServer;
    QByteArray m_oSession;
    QByteArray m_oKeyId;
};

QByteArray form(const QList<std::pair<QByteArray, QByteArray>> &parameters)
{
    QByteArrayList fields;
    for (const auto &[name, value] : parameters)
        fields.append(name + '=' + QUrl::toPercentEncoding(value));
    return fields.join('&');
}

// Every bad one fails before the dialog, with the code and sentence the page reads; a good one
// without a display to ask on is cancelled rather than taking the server down.
TEST_F(SignerRequestTest, Sign_BadInput_ExactErrorBeforeAnyDialog)
{
    const QByteArray id = m_oKeyId, sha256 = QByteArray(32, 'd').toBase64();
    const QByteArray notBase64 =
        R"({"code":"BAD_INPUT","message":"Each \"data\" must be non-empty base64."})";
    const QByteArray notFound = R"({"code":"CERTIFICATE_NOT_FOUND","message":"No certificate has this id."})";
    const std::vector<std::tuple<QByteArray, QByteArray, QByteArray>> rows{
        // A page naming a file as if it were the server's upload is not heard.
        {"SIGN_PDF",
         form({{"id", id},
               {"document", QByteArray("just text").toBase64()},
               {"keyUploadedFile.document", m_oHome.filePath("one.pdf").toUtf8()}}),
         kNotPdf.mid(4)},
        {"SIGN_PDF", form({{"id", id}, {"document", base64Of("encrypted.pdf")}}),
         R"({"code":"BAD_INPUT","message":"The PDF is encrypted; it cannot be signed."})"},
        {"SIGN_PDF", form({{"id", id}, {"document", base64Of("one.pdf")}, {"page", "2"}}),
         R"({"code":"BAD_INPUT","message":"The PDF has no page 2; it has 1."})"},
        {"SIGN_PDF",
         form({{"id", id}, {"document", base64Of("one.pdf")}, {"field", "Approval"}, {"page", "1"}}),
         R"({"code":"BAD_INPUT","message":"\"field\" decides the page and the rectangle: give it without \"page\" and \"rect\"."})"},
        {"SIGN", form({{"id", id}, {"data", "not base64!"}}), notBase64},
        {"SIGN", form({{"id", id}, {"data", ""}}), notBase64},
        {"SIGN", form({{"id", id}, {"digestAlgorithm", "SHA-384"}, {"digest", sha256}}),
         R"({"code":"BAD_INPUT","message":"A \"digest\" does not have the length of its \"digestAlgorithm\"."})"},
        {"SIGN", form({{"id", id}, {"digestAlgorithm", "MD5"}, {"digest", sha256}}),
         R"({"code":"ALGORITHM_UNSUPPORTED","message":"Unsupported digestAlgorithm."})"},
        // One byte each, so that the form stays under the server's own limit.
        {"SIGN", form({{"id", id}}) + QByteArray("&data=YQ%3D%3D").repeated(1001),
         R"({"code":"BAD_INPUT","message":"At most 1000 items may be signed at once."})"},
        {"SIGN_CMS", form({{"id", id}, {"data", "YQ=="}, {"detached", "yes"}}),
         R"({"code":"BAD_INPUT","message":"\"detached\" is true or false."})"},
        {"SIGN", form({{"id", QByteArray(64, 'a')}, {"digest", sha256}}), notFound},
        {"SIGN", form({{"id", "../../.ssh/id_rsa"}, {"digest", sha256}}), notFound},
        {"SIGN", form({{"id", id}, {"algorithm", "RSA-PSS"}, {"digest", sha256}}),
         R"({"code":"ALGORITHM_UNSUPPORTED","message":"This certificate's key cannot sign with that algorithm."})"},
        {"SIGN", form({{"id", id}, {"digest", sha256}}),
         R"({"code":"CANCELLED","message":"No one can be asked: this server runs without a display."})"},
    };
    for (const auto &[command, parameters, error] : rows)
        EXPECT_EQ(result(post(command, parameters)), "500|" + error) << parameters.left(200).constData();
}

// The server's copy of an upload is gone once its job has ended, and an upload over the multipart
// limit is refused as it arrives.
TEST_F(SignerRequestTest, SignPdf_Upload_CopyRemovedAfterTheJobOverLimitRefused)
{
    const auto upload = [&](const QByteArray &content) {
        return post("SIGN_PDF?id=" + m_oKeyId,
                    "--b\r\nContent-Disposition: form-data; name=\"document\"; filename=\"a.pdf\"\r\n\r\n" +
                        content + "\r\n--b--\r\n",
                    "https://shop.example", "multipart/form-data; boundary=b");
    };
    EXPECT_EQ(result(upload("not a pdf")), kNotPdf);
    EXPECT_EQ(upload(QByteArray(1100000, 'x')).statusCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return QDir(m_oHome.filePath("tmp")).isEmpty(); }, std::chrono::seconds(10)));
}

// Only the origins the module's settings name get past the server, to any command.
TEST_F(SignerRequestTest, Origin_NotAllowed_RefusedByServerBeforeTheModule)
{
    for (const QByteArray command : {"SIGN", "LIST_CERTIFICATES"}) {
        const HttpAnswer refused = post(command, form({{"id", m_oKeyId}}), "https://evil.example");
        EXPECT_EQ(refused.statusLine + ' ' + refused.body, kForbidden) << command.constData();
    }
    EXPECT_EQ(
        result(post("SIGN", form({{"id", m_oKeyId}}))),
        R"(500|{"code":"BAD_INPUT","message":"Give either \"data\" or \"digest\", one or more times."})");
}

} // namespace
