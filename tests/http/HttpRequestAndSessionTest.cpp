#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A request fed bytes at once or one at a time, from a device that holds only what was fed so far,
// by default under the limits of the shipped INI.
struct Parse
{
    explicit Parse(const QByteArray &bytes, bool byteByByte = false, qint32 maxSize = 16000,
                   qint32 maxMultiPartSize = 1000000)
        : request(maxSize, maxMultiPartSize)
    {
        device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        for (qsizetype i = 0; i < bytes.size(); i += byteByByte ? 1 : bytes.size()) {
            device.buffer().append(bytes.mid(i, byteByByte ? 1 : -1));
            request.receive(device);
        }
    }
    // What the request left unread.
    QByteArray rest() const { return device.data().mid(device.pos()); }

    HttpRequest request;
    QBuffer device;
};

// The server channel's lines at debug level.
class HttpLogTest : public ::testing::Test
{
protected:
    void SetUp() override { serverLogChannel().initializeWithSinks(1, 1 << 20, QString(), {m_oSink}); }
    void TearDown() override { serverLogChannel().reset(); }

    std::shared_ptr<CapturingSink> m_oSink = std::make_shared<CapturingSink>();
};

using Pairs = QMultiMap<QByteArray, QByteArray>;
using HttpRequestTest = HttpLogTest;

// A head of exactly headSize bytes, padded by one header, then the body.
QByteArray sized(qsizetype headSize, const QByteArray &headers, const QByteArray &body = {})
{
    const QByteArray start = "POST /x HTTP/1.1\r\n" + headers + "X-Pad: ";
    return start + QByteArray(headSize - start.size() - 4, 'p') + "\r\n\r\n" + body;
}

const QByteArray kMultipartType = "Content-Type: multipart/form-data; boundary=\"XyZ\"\r\n";

// A 200-byte head declaring a body of exactly size bytes: plain, or one file part and the closing boundary.
QByteArray withBody(qsizetype size, bool multipart = false)
{
    const QByteArray start =
        multipart ? "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"f\"\r\n\r\n" : "";
    const QByteArray end = multipart ? "\r\n--XyZ--\r\n" : "";
    return sized(200,
                 (multipart ? kMultipartType : QByteArray()) + "Content-Length: " + QByteArray::number(size) +
                     "\r\n",
                 start + QByteArray(size - start.size() - end.size(), 'b') + end);
}

// Under a 300-byte request and a 1000-byte multipart limit, each input reaches the same state, fields
// and unread rest whether it arrives at once or byte by byte; nothing after a broken request line
// is read, and a request stops at the first byte past a limit.
TEST_F(HttpRequestTest, Receive_AtOnceOrByteByByte_SameStateFieldsAndRest)
{
    using enum HttpRequest::RequestStatus;
    const QByteArray host = "\r\nHost: a\r\n\r\n";
    const QByteArray field = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" +
                             QByteArray(800, 'v') + "\r\n--XyZ--\r\n";
    // The input, the state it ends in, how many of its last bytes stay unread.
    const std::tuple<QByteArray, HttpRequest::RequestStatus, qsizetype> cases[] = {
        {"\r\n\r\n\n", WaitingForRequestLine, 0},
        {"GET / HTTP/1.1\r", WaitingForRequestLine, 0},
        {"\r\nGET / HTTP/1.1\r\n", WaitingForHeaders, 0},
        {"GET /a?b=c HTTP/1.0\nHost: a\n folded\nCookie: s=1\n\n", Complete, 0},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd", WaitingForBody, 0},
        {"POST /?q=1 HTTP/1.1\r\nContent-Length: 7\r\n\r\nk=v&w=1GET / HTTP/1.1\r\n\r\n", Complete, 18},
        {"POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n", Complete, 0},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", Aborted, 0},
        {"GET /" + host, Aborted, 11},
        {"GET / HTTP/1.1 x" + host, Aborted, 11},
        {"GET  / HTTP/1.1" + host, Aborted, 11},
        {"GET / FTP/1.0" + host, Aborted, 11},
        {QByteArray("G\0T /\0HTTP", 10) + host, Aborted, 11},
        {sized(300, {}), Complete, 0},
        {sized(301, {}), Aborted, 0},
        {QByteArray(350, 'G'), Aborted, 49},
        {withBody(100), Complete, 0},
        {withBody(101), Aborted, 101},
        {withBody(999, true), Complete, 0},
        {withBody(1000, true), Aborted, 0},
        {withBody(1001, true), Aborted, 1001},
        // Form fields are held in memory, so they count against the request limit as the head does.
        {sized(200, kMultipartType + "Content-Length: " + QByteArray::number(field.size()) + "\r\n", field),
         Aborted, 0}};
    const auto fields = [](const Parse &p) {
        const HttpRequest &r = p.request;
        return std::tuple(r.status(), p.rest(), r.headerMap(), r.parameterMap(), r.cookieMap(), r.body());
    };
    for (const auto &[input, expected, unread] : cases) {
        SCOPED_TRACE(input.left(120).toStdString());
        const Parse atOnce(input, false, 300, 1000);
        EXPECT_EQ(atOnce.request.status(), expected);
        EXPECT_EQ(atOnce.rest(), input.right(unread));
        EXPECT_EQ(fields(Parse(input, true, 300, 1000)), fields(atOnce));
    }
}

TEST_F(HttpRequestTest, Receive_HeaderAndCookieLines_LowerCaseNamesContinuationsJoinedCookiesExtracted)
{
    const Parse parse("GET / HTTP/1.1\r\norphan\r\nContent-Type:  text/plain \r\nX-A: 1\r\nx-a: 2\r\n"
                      "X-B: one\r\n two\r\n\tthree\r\nX-C : c:1\r\n"
                      "Cookie: a=1; b=\"x;y\"; flag ;; c = d=e ;\r\nCookie: a=2\r\n\r\n");
    ASSERT_EQ(parse.request.status(), HttpRequest::Complete);
    EXPECT_EQ(parse.request.headerMap(), Pairs({{"content-type", "text/plain"},
                                                {"x-a", "1"},
                                                {"x-a", "2"},
                                                {"x-b", "one"},
                                                {"x-b", "one two three"},
                                                {"x-c ", "c:1"}}));
    EXPECT_EQ(parse.request.header("X-A"), "2");
    EXPECT_EQ(parse.request.cookieMap(),
              (QMap<QByteArray, QByteArray>{{"a", "2"}, {"b", "x;y"}, {"flag", ""}, {"c", "d=e"}}));
}

TEST_F(HttpRequestTest, Receive_QueryAndFormBody_DecodedIntoParameters)
{
    // The request target, its Content-Type, its body, the parameters read from them.
    const std::tuple<QByteArray, QByteArray, QByteArray, Pairs> cases[] = {
        {"/p?a=%41b+c&bare&&k=1&k=2?&d=%2541%zz%&+e+=%20f%20",
         {},
         {},
         {{"a", "Ab c"}, {"bare", ""}, {"k", "1"}, {"k", "2?"}, {"d", "%41%zz%"}, {" e ", " f "}}},
        {"/p?q=2", "application/x-www-form-urlencoded; charset=UTF-8", "f=1%2B1", {{"q", "2"}, {"f", "1+1"}}},
        {"/p", {}, "a=1&b", {{"a", "1"}, {"b", ""}}},
        {"/p?q=2", "text/plain", "a=1", {{"q", "2"}}}};
    for (const auto &[target, type, body, expected] : cases) {
        const QByteArray typeLine = type.isEmpty() ? QByteArray() : "Content-Type: " + type + "\r\n";
        const Parse parse("POST " + target + " HTTP/1.1\r\n" + typeLine +
                          "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(parse.request.parameterMap(), expected) << target.toStdString();
        EXPECT_EQ(parse.request.path(), "/p");
        EXPECT_EQ(parse.request.body(), body);
    }
    EXPECT_EQ(Parse("GET /a%2Fb+c HTTP/1.1\r\n\r\n").request.path(), "/a/b c");
}

QByteArray multipartRequest(const QByteArray &body, const QByteArray &boundary = "abc")
{
    return "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

const QByteArray kFileContent = QByteArray("line1\r\n--abX\r\n\0binary\r\n", 23) + QByteArray(70000, 'z');
const QByteArray kMultipartBody =
    "preamble\r\n--abc\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nfirst\r\nsecond\r\n"
    "--abc\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"a.txt\"\r\n"
    "Content-Type: application/octet-stream\r\n\r\n" +
    kFileContent +
    "\r\n--abc\r\nContent-Disposition: form-data; name=\"empty\"; filename=\"e.txt\"\r\n\r\n\r\n"
    "--abc\r\nContent-Disposition: attachment; name=\"skip\"\r\n\r\nignored\r\n--abc--\r\nepilogue\r\n";

TEST_F(HttpRequestTest, Receive_MultipartAtOnceOrByteByByte_FieldsAndFilesOnDiskRemovedWithRequest)
{
    for (const bool byteByByte : {false, true}) {
        auto parse = std::make_unique<Parse>(multipartRequest(kMultipartBody, "\"abc\""), byteByByte);
        const HttpRequest &request = parse->request;
        ASSERT_EQ(request.status(), HttpRequest::Complete);
        EXPECT_EQ(request.parameterMap(),
                  Pairs({{"text", "first\r\nsecond"}, {"upload", "a.txt"}, {"empty", "e.txt"}}));
        EXPECT_EQ(request.body(), "");
        ASSERT_NE(request.uploadedFile("empty"), nullptr);
        QFile onDisk(request.uploadedFile("upload")->path());
        ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
        EXPECT_TRUE(onDisk.readAll() == kFileContent);
        EXPECT_EQ(QFile(request.uploadedFile("empty")->path()).size(), 0);
        EXPECT_EQ(request.uploadedFile("text"), nullptr);
        EXPECT_EQ(request.uploadedFile("skip"), nullptr);
        parse.reset();
        EXPECT_FALSE(onDisk.exists());
    }
    // Without the closing boundary, the fields before the cut still count.
    EXPECT_EQ(Parse(multipartRequest("--abc\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                                     "--abc\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\ncut off"))
                  .request.parameterMap(),
              Pairs({{"a", "1"}}));
}

// An upload that cannot be stored is reported once per file, not per block, and never handed over
// half-written; the body is still read to its end, so the request completes with its fields.
TEST_F(HttpRequestTest, Receive_UploadFolderMissing_ReportedOncePerFileFieldsKeptNoUpload)
{
    const QByteArray folder = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/dev/null"); // not a folder, so not even root can create a file in it
    const Parse parse(multipartRequest(kMultipartBody), true);
    folder.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", folder);
    EXPECT_EQ(parse.request.status(), HttpRequest::Complete);
    EXPECT_EQ(parse.request.parameterMap(), Pairs({{"text", "first\r\nsecond"}}));
    EXPECT_TRUE(parse.request.uploadedFiles().empty());
    EXPECT_EQ(m_oSink->lines().filter(QStringLiteral("error writing temp file")).size(), 2);
}

class HttpSessionStoreTest : public HttpLogTest
{
protected:
    void SetUp() override
    {
        HttpLogTest::SetUp();
        m_oSettings.beginGroup(QStringLiteral("sessions"));
        m_oSettings.setValue(QStringLiteral("expirationTime"), 1500);
        m_pStore = std::make_unique<HttpSessionStore>(&m_oSettings);
    }
    // Looks a session up, or opens one as OPEN_SESSION does, for a request carrying this cookie.
    HttpSession getSession(const QByteArray &cookie = {}, bool allowCreate = true)
    {
        Parse parse("POST /m/c HTTP/1.1\r\nCookie: " + cookie + "\r\n\r\n");
        HttpResponse response(&m_oWire);
        return m_pStore->getSession(parse.request, response, allowCreate);
    }

    QTemporaryDir m_oDirectory;
    QSettings m_oSettings{m_oDirectory.filePath(QStringLiteral("test.ini")), QSettings::IniFormat};
    std::unique_ptr<HttpSessionStore> m_pStore;
    QBuffer m_oWire;
};

// A known cookie or id finds the same session and refreshes it, an unknown one creates nothing.
// The cookie the store sets never reaches the wire: replies are written without cookies.
TEST_F(HttpSessionStoreTest, GetSession_NewKnownOrUnknown_CookieSameSessionRefreshedOrNull)
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
    m_pStore->removeSession(second);
    second = HttpSession();
    EXPECT_TRUE(m_pStore->getSession(held->getId()).isNull());
    EXPECT_EQ(held->getAll(), (QMap<QByteArray, QVariant>{{"k", 7}, {"s", QStringLiteral("v")}}));
    EXPECT_FALSE(m_oSink->lines().last().endsWith("deleting data"));
    held.reset();
    EXPECT_TRUE(m_oSink->lines().last().endsWith("deleting data"));
}

} // namespace
