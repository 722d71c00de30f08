#include "HttpTestSupport.h"

#include "http/HttpCookie.h"
#include "http/HttpResponse.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// ---- writer -------------------------------------------------------------------------

struct WriterCase
{
    const char *name;
    std::function<void(HttpResponse &)> produce;
    QByteArray expected;
};

class HttpResponseWriterTest : public ::testing::TestWithParam<WriterCase>
{
};

TEST_P(HttpResponseWriterTest, Write_Reply_ExactBytes)
{
    QByteArray wire;
    QBuffer buffer(&wire);
    buffer.open(QIODevice::WriteOnly);
    HttpResponse response(&buffer);
    GetParam().produce(response);
    EXPECT_EQ(wire, GetParam().expected);
    EXPECT_TRUE(response.hasSentLastPart());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpResponseWriterTest,
    ::testing::Values(
        WriterCase{"EmptyOk", [](HttpResponse &r) { r.write(QByteArray(), true); },
                   "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        WriterCase{"WithLength",
                   [](HttpResponse &r) {
                       r.setStatus(404, "Not Found");
                       r.setHeader("Content-Type", "text/plain");
                       r.write("no such thing", true);
                   },
                   "HTTP/1.1 404 Not Found\r\nContent-Length: 13\r\nContent-Type: text/plain\r\n\r\nno such thing"},
        WriterCase{"Chunked",
                   [](HttpResponse &r) {
                       r.write("abc");
                       r.write(QByteArray());
                       r.write(QByteArray(26, 'x'), true);
                   },
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n1a\r\n" + QByteArray(26, 'x') +
                       "\r\n0\r\n\r\n"},
        WriterCase{"ConnectionCloseUnframed",
                   [](HttpResponse &r) {
                       r.setHeader("Connection", "Close");
                       r.write("a");
                       r.write("b", true);
                   },
                   "HTTP/1.1 200 OK\r\nConnection: Close\r\n\r\nab"},
        WriterCase{"LowerCaseConnectionClose",
                   [](HttpResponse &r) {
                       r.setHeader("connection", "CLOSE");
                       r.write("a");
                       r.write("", true);
                   },
                   "HTTP/1.1 200 OK\r\nconnection: CLOSE\r\n\r\na"},
        WriterCase{"UpperConnectionWins",
                   [](HttpResponse &r) {
                       r.setHeader("Connection", "keep-alive");
                       r.setHeader("connection", "close");
                       r.write("a");
                       r.write("", true);
                   },
                   "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\nconnection: "
                   "close\r\n\r\n1\r\na\r\n0\r\n\r\n"},
        WriterCase{"HeadersSortedByBytes",
                   [](HttpResponse &r) {
                       r.setHeader("b", "4");
                       r.setHeader("a", "3");
                       r.setHeader("Z", "2");
                       r.setHeader("A", "0");
                       r.setHeader("A", "1");
                       r.write("", true);
                   },
                   "HTTP/1.1 200 OK\r\nA: 1\r\nContent-Length: 0\r\nZ: 2\r\na: 3\r\nb: 4\r\n\r\n"},
        WriterCase{"CookiesSortedEmptyNameDropped",
                   [](HttpResponse &r) {
                       r.setCookie(HttpCookie("b", "2", 0));
                       r.setCookie(HttpCookie("", "lost", 0));
                       r.setCookie(HttpCookie("a", "old", 0));
                       r.setCookie(HttpCookie("a", "1", 60, "/"));
                       r.write("", true);
                   },
                   "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nSet-Cookie: a=1; Max-Age=60; Path=/; Version=1\r\n"
                   "Set-Cookie: b=2; Version=1\r\n\r\n"},
        WriterCase{"NothingAfterLastPart",
                   [](HttpResponse &r) {
                       r.write("x", true);
                       r.setHeader("Late", "1");
                       r.write("more");
                       r.write("more", true);
                   },
                   "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"},
        WriterCase{"LargeBody",
                   [](HttpResponse &r) { r.write(QByteArray(100000, 'L'), true); },
                   "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + QByteArray(100000, 'L')}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- cookies ------------------------------------------------------------------------

struct CookieRenderCase
{
    const char *name;
    HttpCookie cookie;
    QByteArray expected;
};

class HttpCookieRenderTest : public ::testing::TestWithParam<CookieRenderCase>
{
};

TEST_P(HttpCookieRenderTest, ToHeaderValue_Attributes_RenderedInOrder)
{
    EXPECT_EQ(GetParam().cookie.toHeaderValue(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpCookieRenderTest,
    ::testing::Values(
        CookieRenderCase{"Plain", HttpCookie("s", "1", 0), "s=1; Version=1"},
        CookieRenderCase{"HourPathSecureHttpOnly", HttpCookie("s", "1", 3600, "/", "", "", true, true),
                         "s=1; Max-Age=3600; Path=/; Secure; HttpOnly; Version=1"},
        CookieRenderCase{"Everything", HttpCookie("id", "{x}", -1, "/a", "c d", "local", true, false),
                         "id={x}; Comment=c d; Domain=local; Max-Age=-1; Path=/a; Secure; Version=1"}),
    [](const auto &info) { return std::string(info.param.name); });

struct SplitCase
{
    const char *name;
    QByteArray input;
    QList<QByteArray> expected;
};

class HttpCookieSplitTest : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(HttpCookieSplitTest, SplitAttributes_Input_Pieces)
{
    EXPECT_EQ(HttpCookie::splitAttributes(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpCookieSplitTest,
    ::testing::Values(SplitCase{"QuotedSemicolon", "a=1; b=\"x; y\" ;c", {"a=1", "b=x; y", "c"}},
                      SplitCase{"EmptyPieces", " ; ;a;; ", {"a"}},
                      SplitCase{"CommaKept", "a=1,b=2", {"a=1,b=2"}},
                      SplitCase{"UnclosedQuoteRunsToEnd", "a=\"1;2", {"a=1;2"}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
