#include "HttpTestSupport.h"

#include "http/HttpRequest.h"

#include <QRandomGenerator>
#include <QTemporaryFile>

#include <gtest/gtest.h>


namespace {

using Pairs = QList<std::pair<QByteArray, QByteArray>>;

QMultiMap<QByteArray, QByteArray> multiMapOf(const Pairs &pairs)
{
    QMultiMap<QByteArray, QByteArray> map;
    for (const auto &[name, value] : pairs)
        map.insert(name, value);
    return map;
}

class HttpRequestTest : public HttpLogTest
{
protected:
    HttpRequest::RequestStatus parse(const QByteArray &bytes, bool byteByByte = false)
    {
        feedRequest(m_oRequest, m_oDevice, bytes, byteByByte);
        return m_oRequest.status();
    }

    HttpRequest m_oRequest{HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize};
    TrickleDevice m_oDevice;
};

// ---- states -------------------------------------------------------------------------

struct StateCase
{
    const char *name;
    QByteArray input;
    HttpRequest::RequestStatus expected;
};

class HttpRequestStateTest : public HttpRequestTest, public ::testing::WithParamInterface<StateCase>
{
};

TEST_P(HttpRequestStateTest, Receive_Input_ReachesState)
{
    EXPECT_EQ(parse(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpRequestStateTest,
    ::testing::Values(
        StateCase{"BlankLinesOnly", "\r\n\r\n\n", HttpRequest::WaitingForRequestLine},
        StateCase{"UnterminatedRequestLine", "GET / HTTP/1.1", HttpRequest::WaitingForRequestLine},
        StateCase{"CarriageReturnAwaitsLineFeed", "GET / HTTP/1.1\r", HttpRequest::WaitingForRequestLine},
        StateCase{"RequestLine", "\r\nGET / HTTP/1.1\r\n", HttpRequest::WaitingForHeaders},
        StateCase{"NoBody", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", HttpRequest::Complete},
        StateCase{"LineFeedsOnly", "GET / HTTP/1.0\nHost: a\n\n", HttpRequest::Complete},
        StateCase{"PartOfBody", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd", HttpRequest::WaitingForBody},
        StateCase{"WholeBody", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde", HttpRequest::Complete},
        StateCase{"NegativeLength", "POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n", HttpRequest::Complete},
        StateCase{"HugeLength", "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", HttpRequest::Aborted}),
    [](const auto &info) { return std::string(info.param.name); });

struct BrokenLineCase
{
    const char *name;
    QByteArray line;
};

class HttpRequestBrokenLineTest : public HttpRequestTest, public ::testing::WithParamInterface<BrokenLineCase>
{
};

TEST_P(HttpRequestBrokenLineTest, Receive_BrokenRequestLine_AbortedWithWarning)
{
    EXPECT_EQ(parse(GetParam().line + "\r\nHost: a\r\n\r\n"), HttpRequest::Aborted);
    EXPECT_EQ(logLines().last(), "[VYR-server]:HttpRequest::readRequestLine: "
                                 "HttpRequest: received broken HTTP request, invalid first line");
    // Nothing after the broken line is read.
    EXPECT_EQ(m_oDevice.remaining(), "Host: a\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpRequestBrokenLineTest,
                         ::testing::Values(BrokenLineCase{"TwoPieces", "GET /"},
                                           BrokenLineCase{"FourPieces", "GET / HTTP/1.1 x"},
                                           BrokenLineCase{"DoubleBlank", "GET  / HTTP/1.1"},
                                           BrokenLineCase{"NoHttp", "GET / FTP/1.0"},
                                           BrokenLineCase{"Binary", QByteArray("G\0T /\0HTTP", 10)}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(HttpRequestTest, Receive_RequestLine_FieldsAndPeerAndLogLine)
{
    const QHostAddress peer(QStringLiteral("127.0.0.1"));
    m_oDevice.feed("  POST /a%20b/c HTTP/1.0  \r\n\r\n");
    m_oRequest.receive(m_oDevice, peer);
    ASSERT_EQ(m_oRequest.status(), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.method(), "POST");
    EXPECT_EQ(m_oRequest.path(), "/a b/c");
    EXPECT_EQ(m_oRequest.version(), "HTTP/1.0");
    EXPECT_EQ(m_oRequest.peerAddress(), peer);
    EXPECT_EQ(m_oRequest.body(), "");
    // The server's log blanks punctuation in lines that name a method.
    EXPECT_EQ(logLines(),
              QStringList{"[VYR server]:HttpRequest::readRequestLine: HttpRequest: from 127 0 0 1: POST /a%20b/c HTTP/1 0"});
}

// ---- headers ------------------------------------------------------------------------

struct HeaderCase
{
    const char *name;
    QByteArray headerLines;
    Pairs expectedMap;
    QByteArray askedName;
    QByteArray expectedValue;
};

class HttpRequestHeaderTest : public HttpRequestTest, public ::testing::WithParamInterface<HeaderCase>
{
};

TEST_P(HttpRequestHeaderTest, Receive_HeaderLines_StoredLowerCase)
{
    ASSERT_EQ(parse("GET / HTTP/1.1\r\n" + GetParam().headerLines + "\r\n"), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.headerMap(), multiMapOf(GetParam().expectedMap));
    EXPECT_EQ(m_oRequest.header(GetParam().askedName), GetParam().expectedValue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpRequestHeaderTest,
    ::testing::Values(
        HeaderCase{"MixedCase", "Content-Type:  text/plain \r\n", {{"content-type", "text/plain"}}, "CONTENT-type",
                   "text/plain"},
        HeaderCase{"Duplicate", "X-A: 1\r\nx-a: 2\r\n", {{"x-a", "1"}, {"x-a", "2"}}, "X-A", "2"},
        HeaderCase{"Continuation", "X-A: one\r\n  two\r\n", {{"x-a", "one"}, {"x-a", "one two"}}, "x-a",
                   "one two"},
        HeaderCase{"SecondContinuationExtendsFirst",
                   "X-A: one\r\n two\r\n\tthree\r\n",
                   {{"x-a", "one"}, {"x-a", "one two three"}},
                   "x-a",
                   "one two three"},
        HeaderCase{"LeadingColonContinues", "X-A: v\r\n:w\r\n", {{"x-a", "v"}, {"x-a", "v :w"}}, "x-a", "v :w"},
        HeaderCase{"OrphanContinuationIgnored", "orphan\r\nX-B: b\r\n", {{"x-b", "b"}}, "orphan", ""},
        HeaderCase{"NameKeepsInnerBlank", "X-A : a:1\r\n", {{"x-a ", "a:1"}}, "x-a", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- limits -------------------------------------------------------------------------

// A head of exactly headSize bytes, padded by one header.
QByteArray headOfSize(qsizetype headSize, const QByteArray &extraHeaders = QByteArray())
{
    const QByteArray start = "POST /x HTTP/1.1\r\n" + extraHeaders + "X-Pad: ";
    return start + QByteArray(headSize - start.size() - 4, 'p') + "\r\n\r\n";
}

QByteArray withBody(qsizetype headSize, const QByteArray &type, qsizetype declared, const QByteArray &body)
{
    return headOfSize(headSize, type + "Content-Length: " + QByteArray::number(declared) + "\r\n") + body;
}

// A multipart body of exactly size bytes: one file part and the closing boundary.
QByteArray multipartOfSize(qsizetype size)
{
    const QByteArray start = "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"f.bin\"\r\n\r\n";
    const QByteArray end = "\r\n--XyZ--\r\n";
    return start + QByteArray(size - start.size() - end.size(), 'd') + end;
}

const QByteArray kMultipart = "Content-Type: multipart/form-data; boundary=\"XyZ\"\r\n";
const QByteArray kBigField = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + QByteArray(800, 'v') +
                             "\r\n--XyZ--\r\n";

struct LimitCase
{
    const char *name;
    qint32 maxSize; // written to the settings unless it is the default
    qint32 maxMultiPartSize;
    QByteArray input;
    HttpRequest::RequestStatus expected;
    const char *warning; // last log line's message, empty when none
    qsizetype unreadBytes;
};

class HttpRequestLimitTest : public HttpLogTest, public ::testing::WithParamInterface<LimitCase>
{
};

TEST_P(HttpRequestLimitTest, Receive_SizeAtOrPastLimit_AcceptedOrAborted)
{
    GroupSettings ini(QStringLiteral("listener"));
    if (GetParam().maxSize != HttpRequest::kDefaultMaxRequestSize)
        ini.settings().setValue(QStringLiteral("maxRequestSize"), GetParam().maxSize);
    if (GetParam().maxMultiPartSize != HttpRequest::kDefaultMaxMultiPartSize)
        ini.settings().setValue(QStringLiteral("maxMultiPartSize"), GetParam().maxMultiPartSize);
    HttpRequest request(ini.settings());
    TrickleDevice device;
    device.feed(GetParam().input);
    request.receive(device);

    EXPECT_EQ(request.status(), GetParam().expected);
    EXPECT_EQ(device.remaining().size(), GetParam().unreadBytes);
    const QString warning = QString::fromLatin1(GetParam().warning);
    EXPECT_EQ(logLines().last().endsWith(QStringLiteral(": ") + warning), !warning.isEmpty()) << logLines().last().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpRequestLimitTest,
    ::testing::Values(
        LimitCase{"HeadAtLimit", 16000, 1000000, headOfSize(16000), HttpRequest::Complete, "", 0},
        LimitCase{"HeadPastLimit", 16000, 1000000, headOfSize(16001), HttpRequest::Aborted,
                  "HttpRequest: received too many bytes", 0},
        // Reading stops one byte past the budget.
        LimitCase{"EndlessLine", 300, 1000, QByteArray(350, 'G'), HttpRequest::Aborted,
                  "HttpRequest: received too many bytes", 49},
        LimitCase{"ConfiguredHeadAtLimit", 300, 1000, headOfSize(300), HttpRequest::Complete, "", 0},
        LimitCase{"BodyAtLimit", 16000, 1000000, withBody(15900, "", 100, QByteArray(100, 'b')),
                  HttpRequest::Complete, "", 0},
        LimitCase{"BodyPastLimit", 16000, 1000000, withBody(15900, "", 101, QByteArray(101, 'b')),
                  HttpRequest::Aborted, "HttpRequest: expected body is too large", 101},
        LimitCase{"MultipartBelowLimit", 16000, 1000000, withBody(200, kMultipart, 999999, multipartOfSize(999999)),
                  HttpRequest::Complete, "", 0},
        LimitCase{"MultipartAtLimit", 16000, 1000000,
                  withBody(200, kMultipart, 1000000, multipartOfSize(1000000)), HttpRequest::Aborted,
                  "HttpRequest: received too many multipart bytes", 0},
        LimitCase{"MultipartDeclaredPastLimit", 16000, 1000000,
                  withBody(200, kMultipart, 1000001, multipartOfSize(1000001)), HttpRequest::Aborted,
                  "HttpRequest: expected multipart body is too large", 1000001},
        // Form fields are held in memory, so they count against the multipart limit too.
        LimitCase{"MultipartFieldsPastLimit", 16000, 1000, withBody(300, kMultipart, kBigField.size(), kBigField),
                  HttpRequest::Aborted, "HttpRequest: received too many bytes", 0}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- parameters ---------------------------------------------------------------------

struct ParameterCase
{
    const char *name;
    QByteArray target;
    QByteArray contentType;
    QByteArray body;
    Pairs expected;
    QByteArray expectedPath;
};

class HttpRequestParameterTest : public HttpRequestTest, public ::testing::WithParamInterface<ParameterCase>
{
};

TEST_P(HttpRequestParameterTest, Receive_QueryAndBody_DecodedIntoParameters)
{
    QByteArray bytes = "POST " + GetParam().target + " HTTP/1.1\r\n";
    if (!GetParam().contentType.isEmpty())
        bytes += "Content-Type: " + GetParam().contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(GetParam().body.size()) + "\r\n\r\n" + GetParam().body;
    ASSERT_EQ(parse(bytes), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.parameterMap(), multiMapOf(GetParam().expected));
    EXPECT_EQ(m_oRequest.path(), GetParam().expectedPath);
    EXPECT_EQ(m_oRequest.body(), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpRequestParameterTest,
    ::testing::Values(
        ParameterCase{"QueryPieces", "/p?a=%41b+c&bare&&k=1&k=2?", "", "",
                      {{"a", "Ab c"}, {"bare", ""}, {"k", "1"}, {"k", "2?"}}, "/p"},
        ParameterCase{"TrimmedThenDecoded", "/p?+a+=%20b%20", "", "", {{" a ", " b "}}, "/p"},
        ParameterCase{"FormBody", "/p?q=2", "application/x-www-form-urlencoded; charset=UTF-8", "f=1%2B1",
                      {{"q", "2"}, {"f", "1+1"}}, "/p"},
        ParameterCase{"BodyWithoutType", "/p", "", "a=1&b", {{"a", "1"}, {"b", ""}}, "/p"},
        ParameterCase{"OtherTypeNotDecoded", "/p?q=2", "text/plain", "a=1", {{"q", "2"}}, "/p"},
        ParameterCase{"EncodedPath", "/a%2Fb+c?x=%zz", "", "", {{"x", "%zz"}}, "/a/b c"}),
    [](const auto &info) { return std::string(info.param.name); });

struct DecodeCase
{
    QByteArray input;
    QByteArray expected;
};

class PercentDecodeTest : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(PercentDecodeTest, PercentDecode_Input_Decoded)
{
    EXPECT_EQ(HttpRequest::percentDecode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PercentDecodeTest,
                         ::testing::Values(DecodeCase{"%41%62", "Ab"}, DecodeCase{"a+b", "a b"},
                                           DecodeCase{"%2b", "+"}, DecodeCase{"%2541", "%41"},
                                           DecodeCase{"%%41", "%A"}, DecodeCase{"%zz%4", "%zz%4"},
                                           DecodeCase{"%", "%"}, DecodeCase{"%-1%+1% 1", "%-1% 1% 1"},
                                           DecodeCase{"%00", QByteArray(1, '\0')}, DecodeCase{"%fF", "\xff"}));

// ---- cookies ------------------------------------------------------------------------

struct CookieCase
{
    const char *name;
    QList<QByteArray> headerValues;
    QMap<QByteArray, QByteArray> expected;
};

class HttpRequestCookieTest : public HttpRequestTest, public ::testing::WithParamInterface<CookieCase>
{
};

TEST_P(HttpRequestCookieTest, Receive_CookieHeaders_CookiesExtractedAndHeaderDropped)
{
    QByteArray bytes = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (const QByteArray &value : GetParam().headerValues)
        bytes += "Cookie: " + value + "\r\n";
    ASSERT_EQ(parse(bytes + "\r\n"), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.cookieMap(), GetParam().expected);
    EXPECT_EQ(m_oRequest.headerMap(), multiMapOf({{"host", "h"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpRequestCookieTest,
    ::testing::Values(
        CookieCase{"QuotedSemicolon", {"a=1; b=\"x;y\""}, {{"a", "1"}, {"b", "x;y"}}},
        CookieCase{"BareName", {"flag"}, {{"flag", ""}}},
        CookieCase{"LeadingEquals", {" =x "}, {{"=x", ""}}},
        CookieCase{"BlanksAndEmptyPieces", {" a = 1 ;; b=2 ;"}, {{"a", "1"}, {"b", "2"}}},
        CookieCase{"LaterHeaderWins", {"a=1; c=3", "a=2"}, {{"a", "2"}, {"c", "3"}}},
        CookieCase{"ValueWithEquals", {"a=b=c, d"}, {{"a", "b=c, d"}}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- multipart ----------------------------------------------------------------------

QByteArray multipartRequest(const QByteArray &body, const QByteArray &typeBoundary = "abc")
{
    return "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + typeBoundary +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray readAll(QTemporaryFile *file)
{
    return file ? file->readAll() : QByteArray("<no file>");
}

const QByteArray kFileContent = QByteArray("line1\r\n--abX\r\n\0binary\r\n", 23) + QByteArray(70000, 'z');

const QByteArray kMultipartBody = "preamble\r\n"
                                  "--abc\r\n"
                                  "Content-Disposition: form-data; name=\"text\"\r\n"
                                  "\r\n"
                                  "first\r\nsecond\r\n"
                                  "--abc\r\n"
                                  "Content-Disposition: form-data; name=\"upload\"; filename=\"a.txt\"\r\n"
                                  "Content-Type: application/octet-stream\r\n"
                                  "\r\n" +
                                  kFileContent +
                                  "\r\n"
                                  "--abc\r\n"
                                  "Content-Disposition: form-data; name=\"empty\"; filename=\"e.txt\"\r\n"
                                  "\r\n"
                                  "\r\n"
                                  "--abc\r\n"
                                  "Content-Disposition: attachment; name=\"skip\"\r\n"
                                  "\r\n"
                                  "ignored\r\n"
                                  "--abc--\r\n"
                                  "epilogue\r\n";

class HttpRequestMultipartTest : public HttpRequestTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(HttpRequestMultipartTest, Receive_FieldsAndFiles_ParametersAndUploadsOnDisk)
{
    ASSERT_EQ(parse(multipartRequest(kMultipartBody, "\"abc\""), GetParam()), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.parameterMap(),
              multiMapOf({{"text", "first\r\nsecond"}, {"upload", "a.txt"}, {"empty", "e.txt"}}));
    EXPECT_EQ(m_oRequest.body(), "");

    QTemporaryFile *upload = m_oRequest.uploadedFile("upload");
    ASSERT_NE(upload, nullptr);
    EXPECT_EQ(upload->pos(), 0);
    QFile onDisk(upload->fileName());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
    EXPECT_EQ(onDisk.readAll(), kFileContent);
    EXPECT_EQ(readAll(m_oRequest.uploadedFile("empty")), "");
    EXPECT_EQ(m_oRequest.uploadedFile("text"), nullptr);
    EXPECT_EQ(m_oRequest.uploadedFile("skip"), nullptr);
    EXPECT_TRUE(logLines().contains("[VYR-server]:HttpRequest::readPartHeaders: HttpRequest: ignoring unsupported "
                                    "content part Content-Disposition: attachment; name=\"skip\""));
}

INSTANTIATE_TEST_SUITE_P(Feeding, HttpRequestMultipartTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "ByteByByte" : "AtOnce"; });

TEST_F(HttpRequestTest, Receive_MultipartWithoutClosingBoundary_FieldsBeforeKeptAndFormatError)
{
    const QByteArray body = "--abc\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                            "--abc\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\ncut off";
    ASSERT_EQ(parse(multipartRequest(body)), HttpRequest::Complete);
    EXPECT_EQ(m_oRequest.parameterMap(), multiMapOf({{"a", "1"}}));
    EXPECT_EQ(logLines().last(),
              "[VYR-server]:HttpRequest::readPartData: HttpRequest: format error, unexpected end of file data");
}

TEST_F(HttpRequestTest, Destructor_Uploads_TemporaryFilesRemoved)
{
    QString uploadPath;
    {
        HttpRequest request(HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize);
        TrickleDevice device;
        device.feed(multipartRequest(kMultipartBody));
        request.receive(device);
        ASSERT_NE(request.uploadedFile("upload"), nullptr);
        uploadPath = request.uploadedFile("upload")->fileName();
        ASSERT_TRUE(QFile::exists(uploadPath));
    }
    EXPECT_FALSE(QFile::exists(uploadPath));
}

// ---- feeding ------------------------------------------------------------------------

class HttpRequestFeedingTest : public HttpLogTest, public ::testing::WithParamInterface<QByteArray>
{
};

TEST_P(HttpRequestFeedingTest, Receive_ByteByByte_SameAsAtOnce)
{
    HttpRequest atOnce(300, 2000);
    HttpRequest slowly(300, 2000);
    TrickleDevice atOnceDevice;
    TrickleDevice slowDevice;
    feedRequest(atOnce, atOnceDevice, GetParam(), false);
    feedRequest(slowly, slowDevice, GetParam(), true);

    EXPECT_EQ(slowly.status(), atOnce.status());
    EXPECT_EQ(slowly.method(), atOnce.method());
    EXPECT_EQ(slowly.path(), atOnce.path());
    EXPECT_EQ(slowly.version(), atOnce.version());
    EXPECT_EQ(slowly.body(), atOnce.body());
    EXPECT_EQ(slowly.headerMap(), atOnce.headerMap());
    EXPECT_EQ(slowly.parameterMap(), atOnce.parameterMap());
    EXPECT_EQ(slowly.cookieMap(), atOnce.cookieMap());
    EXPECT_EQ(slowDevice.remaining(), atOnceDevice.remaining());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpRequestFeedingTest,
    ::testing::Values(QByteArray("\r\nGET /a?b=c HTTP/1.1\r\nHost: x\r\n folded\r\nCookie: s=1\r\n\r\n"),
                      QByteArray("POST /f HTTP/1.1\r\nContent-Length: 7\r\n\r\nk=v&w=1GET / HTTP/1.1\r\n\r\n"),
                      QByteArray("GET / HTTP/1.1\r\nX: 1\r\n\r\nGET /second HTTP/1.1\r\n\r\n"),
                      QByteArray("GET / HTTP/1.1\r\nX: ") + QByteArray(400, 'x'), QByteArray("GET / HTTP/1.1 x\r\n"),
                      multipartRequest("--abc\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--abc--\r\n"),
                      QByteArray("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nshort")));

// ---- garbage ------------------------------------------------------------------------

// Random bytes, and valid requests with random bytes flipped, never crash the parser, never
// leave it waiting while input is unread, and never let it read past the request budget.
TEST_F(HttpRequestTest, Receive_RandomInput_NeverCrashesOrOverreads)
{
    QRandomGenerator random(20240611);
    const QByteArray seeds[] = {
        "GET /a?b=%41&c HTTP/1.1\r\nHost: x\r\nCookie: a=\"1;2\"; b\r\n cont\r\n\r\n",
        "POST /p HTTP/1.1\r\nContent-Length: 12\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\na=1&b=%zz&c",
        multipartRequest(kMultipartBody.left(600) + "\r\n--abc--\r\n")};
    constexpr qint32 kMaxSize = 256;
    for (int round = 0; round < 3000; ++round) {
        QByteArray input;
        if (round % 3 == 0) {
            input.resize(random.bounded(1, 700));
            for (char &c : input)
                c = char(random.bounded(256));
        } else {
            input = seeds[round % 3];
            for (int flips = random.bounded(1, 8); flips > 0; --flips)
                input[random.bounded(int(input.size()))] = char(random.bounded(256));
        }
        HttpRequest request(kMaxSize, 700);
        TrickleDevice device;
        feedRequest(request, device, input, round % 10 == 0);
        const HttpRequest::RequestStatus status = request.status();
        ASSERT_GE(status, HttpRequest::WaitingForRequestLine);
        ASSERT_LE(status, HttpRequest::Aborted);
        if (status != HttpRequest::Complete && status != HttpRequest::Aborted) {
            ASSERT_EQ(device.remaining(), "") << "round " << round;
        }
        if (!request.header("content-type").startsWith("multipart/form-data")) {
            ASSERT_LE(input.size() - device.remaining().size(), kMaxSize + 1) << "round " << round;
        }
    }
}

} // namespace
