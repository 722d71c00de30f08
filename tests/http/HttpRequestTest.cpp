#include "HttpTestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryFile>

namespace {

using Pairs = QMultiMap<QByteArray, QByteArray>;
using HttpRequestTest = HttpLogTest;

// Each input reaches the same state, fields and unread rest whether it arrives at once or byte by byte;
// nothing after a broken request line is read.
TEST_F(HttpRequestTest, Receive_AtOnceOrByteByByte_SameStateFieldsAndRest)
{
    using enum HttpRequest::RequestStatus;
    const QByteArray host = "\r\nHost: a\r\n\r\n";
    const struct
    {
        QByteArray input;
        HttpRequest::RequestStatus expected;
        QByteArray rest;
    } cases[] = {{"\r\n\r\n\n", WaitingForRequestLine, {}},
                 {"GET / HTTP/1.1\r", WaitingForRequestLine, {}},
                 {"\r\nGET / HTTP/1.1\r\n", WaitingForHeaders, {}},
                 {"GET /a?b=c HTTP/1.0\nHost: a\n folded\nCookie: s=1\n\n", Complete, {}},
                 {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd", WaitingForBody, {}},
                 {"POST /?q=1 HTTP/1.1\r\nContent-Length: 7\r\n\r\nk=v&w=1GET / HTTP/1.1\r\n\r\n", Complete,
                  "GET / HTTP/1.1\r\n\r\n"},
                 {"POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n", Complete, {}},
                 {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", Aborted, {}},
                 {"GET / HTTP/1.1\r\nX: " + QByteArray(16000, 'x'), Aborted,
                  QByteArray(18, 'x')}, // one byte past the limit
                 {"GET /" + host, Aborted, host.mid(2)},
                 {"GET / HTTP/1.1 x" + host, Aborted, host.mid(2)},
                 {"GET  / HTTP/1.1" + host, Aborted, host.mid(2)},
                 {"GET / FTP/1.0" + host, Aborted, host.mid(2)},
                 {QByteArray("G\0T /\0HTTP", 10) + host, Aborted, host.mid(2)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.left(70).toStdString());
        const Parse atOnce(c.input), slowly(c.input, true);
        EXPECT_EQ(atOnce.request.status(), c.expected);
        EXPECT_EQ(slowly.request.status(), c.expected);
        EXPECT_EQ(atOnce.rest(), c.rest);
        EXPECT_EQ(slowly.rest(), c.rest);
        EXPECT_EQ(slowly.request.headerMap(), atOnce.request.headerMap());
        EXPECT_EQ(slowly.request.parameterMap(), atOnce.request.parameterMap());
        EXPECT_EQ(slowly.request.cookieMap(), atOnce.request.cookieMap());
        EXPECT_EQ(slowly.request.body(), atOnce.request.body());
    }
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpRequest::readRequestLine: "
                                 "HttpRequest: received broken HTTP request, invalid first line");
}

TEST_F(HttpRequestTest, Receive_HeaderLines_LowerCaseNamesAndContinuationsJoined)
{
    const Parse parse("GET / HTTP/1.1\r\norphan\r\nContent-Type:  text/plain \r\nX-A: 1\r\nx-a: 2\r\n"
                      "X-B: one\r\n two\r\n\tthree\r\nX-C : c:1\r\n\r\n");
    ASSERT_EQ(parse.request.status(), HttpRequest::Complete);
    EXPECT_EQ(parse.request.headerMap(), Pairs({{"content-type", "text/plain"},
                                                {"x-a", "1"},
                                                {"x-a", "2"},
                                                {"x-b", "one"},
                                                {"x-b", "one two three"},
                                                {"x-c ", "c:1"}}));
    EXPECT_EQ(parse.request.header("X-A"), "2");
    EXPECT_EQ(parse.request.header("x-b"), "one two three");
}

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

TEST_F(HttpRequestTest, Receive_SizeAtOrOneBytePastLimit_AcceptedOrAborted)
{
    const QByteArray field = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" +
                             QByteArray(800, 'v') + "\r\n--XyZ--\r\n";
    const struct
    {
        QByteArray input;
        HttpRequest::RequestStatus expected;
        QString warning;
        qsizetype unread;
    } cases[] = {
        {sized(300, {}), HttpRequest::Complete, {}, 0},
        {sized(301, {}), HttpRequest::Aborted, "received too many bytes", 0},
        {QByteArray(350, 'G'), HttpRequest::Aborted, "received too many bytes", 49}, // stops one byte past
        {withBody(100), HttpRequest::Complete, {}, 0},
        {withBody(101), HttpRequest::Aborted, "expected body is too large", 101},
        {withBody(999, true), HttpRequest::Complete, {}, 0},
        {withBody(1000, true), HttpRequest::Aborted, "received too many multipart bytes", 0},
        {withBody(1001, true), HttpRequest::Aborted, "expected multipart body is too large", 1001},
        // Form fields are held in memory, so they count against the multipart limit as the head does.
        {sized(200, kMultipartType + "Content-Length: " + QByteArray::number(field.size()) + "\r\n", field),
         HttpRequest::Aborted, "received too many bytes", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.left(120).toStdString());
        const Parse parse(c.input, false, 300, 1000);
        EXPECT_EQ(parse.request.status(), c.expected);
        EXPECT_EQ(parse.rest().size(), c.unread);
        EXPECT_EQ(logLines().last().endsWith(QStringLiteral("HttpRequest: ") + c.warning),
                  !c.warning.isEmpty());
    }
}

TEST_F(HttpRequestTest, Receive_QueryAndFormBody_DecodedIntoParameters)
{
    const struct
    {
        QByteArray target, type, body;
        Pairs expected;
    } cases[] = {
        {"/p?a=%41b+c&bare&&k=1&k=2?&d=%2541%zz%&+e+=%20f%20",
         {},
         {},
         {{"a", "Ab c"}, {"bare", ""}, {"k", "1"}, {"k", "2?"}, {"d", "%41%zz%"}, {" e ", " f "}}},
        {"/p?q=2", "application/x-www-form-urlencoded; charset=UTF-8", "f=1%2B1", {{"q", "2"}, {"f", "1+1"}}},
        {"/p", {}, "a=1&b", {{"a", "1"}, {"b", ""}}},
        {"/p?q=2", "text/plain", "a=1", {{"q", "2"}}}};
    for (const auto &c : cases) {
        const QByteArray type = c.type.isEmpty() ? QByteArray() : "Content-Type: " + c.type + "\r\n";
        const Parse parse("POST " + c.target + " HTTP/1.1\r\n" + type +
                          "Content-Length: " + QByteArray::number(c.body.size()) + "\r\n\r\n" + c.body);
        EXPECT_EQ(parse.request.parameterMap(), c.expected) << c.target.toStdString();
        EXPECT_EQ(parse.request.path(), "/p");
        EXPECT_EQ(parse.request.body(), c.body);
    }
    EXPECT_EQ(Parse("GET /a%2Fb+c HTTP/1.1\r\n\r\n").request.path(), "/a/b c");
}

TEST_F(HttpRequestTest, Receive_CookieHeaders_CookiesExtractedAndHeaderDropped)
{
    const Parse parse(
        "GET / HTTP/1.1\r\nHost: h\r\nCookie: a=1; b=\"x;y\"; flag ;; c = d=e ;\r\nCookie: a=2\r\n\r\n");
    EXPECT_EQ(parse.request.cookieMap(),
              (QMap<QByteArray, QByteArray>{{"a", "2"}, {"b", "x;y"}, {"flag", ""}, {"c", "d=e"}}));
    EXPECT_EQ(parse.request.headerMap(), Pairs({{"host", "h"}}));
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
        ASSERT_NE(request.uploadedFile("upload"), nullptr);
        ASSERT_NE(request.uploadedFile("empty"), nullptr);
        QFile onDisk(request.uploadedFile("upload")->fileName());
        ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
        EXPECT_TRUE(onDisk.readAll() == kFileContent);
        EXPECT_EQ(request.uploadedFile("empty")->readAll(), "");
        EXPECT_EQ(request.uploadedFile("text"), nullptr);
        EXPECT_EQ(request.uploadedFile("skip"), nullptr);
        parse.reset();
        EXPECT_FALSE(onDisk.exists());
    }
}

TEST_F(HttpRequestTest, Receive_MultipartWithoutClosingBoundary_FieldsBeforeKeptAndFormatError)
{
    Parse parse(multipartRequest("--abc\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                                 "--abc\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\ncut off"));
    ASSERT_EQ(parse.request.status(), HttpRequest::Complete);
    EXPECT_EQ(parse.request.parameterMap(), Pairs({{"a", "1"}}));
    EXPECT_EQ(
        logLines().last(),
        "[VYR-server]:HttpRequest::readPartData: HttpRequest: format error, unexpected end of file data");
}

// Random bytes, and valid requests with bytes flipped, never crash the parser, never leave it
// waiting with input unread, and never let it read past the request budget.
TEST_F(HttpRequestTest, Receive_RandomInput_NeverCrashesOrOverreads)
{
    QRandomGenerator random(20240611);
    const QByteArray seeds[] = {"GET /a?b=%41&c HTTP/1.1\r\nHost: x\r\nCookie: a=\"1;2\"; b\r\n cont\r\n\r\n",
                                multipartRequest(kMultipartBody.left(600) + "\r\n--abc--\r\n")};
    for (int round = 0; round < 600; ++round) {
        QByteArray input(4 * random.bounded(1, 175), Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(input.data()), input.size() / 4);
        if (round % 3 != 0) {
            input = seeds[round % 3 - 1];
            for (int flips = random.bounded(1, 8); flips > 0; --flips)
                input[random.bounded(int(input.size()))] = char(random.bounded(256));
        }
        const Parse parse(input, round % 10 == 0, 256, 700);
        if (parse.request.status() < HttpRequest::Complete) {
            ASSERT_EQ(parse.rest(), "") << "round " << round;
        }
        if (!parse.request.header("content-type").startsWith("multipart/form-data")) {
            ASSERT_LE(input.size() - parse.rest().size(), 257) << "round " << round;
        }
    }
}

} // namespace
