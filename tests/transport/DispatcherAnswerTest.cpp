// What a user server takes from the dispatcher's answer about a process's account: the
// answer comes over the network, so anything but a whole, plausible 200 names nobody.
#include "transport/DispatcherAccountQuery.h"

#include <gtest/gtest.h>

namespace {

QByteArray answer(const QByteArray &status, const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + status + "\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

TEST(DispatcherAnswerTest, ParseAnswer_WholeOrPartialAnswers_AccountOnlyFromWholePlausible200)
{
    const struct
    {
        const char *name;
        QByteArray bytes;
        bool complete;
        const char *account; // null: none
    } cases[] = {
        {"account", answer("200 OK", "host/alice"), true, "host/alice"},
        {"lowerCaseHeader", "HTTP/1.1 200 OK\r\ncontent-length: 8\r\n\r\nhost/bob", true, "host/bob"},
        {"headCut", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", false, nullptr},
        {"bodyCut", answer("200 OK", "host/alice").chopped(3), false, nullptr},
        {"serverError",
         answer("500 Internal Server Error", "Problem occurred when trying to obtain username"), true,
         nullptr},
        {"noLength", "HTTP/1.1 200 OK\r\n\r\nhost/alice", true, nullptr},
        {"twoLengths", answer("200 OK", "host/alice", "Content-Length: 10\r\n"), true, nullptr},
        {"signedLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhost/alice", true, nullptr},
        {"hugeLength", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", true, nullptr},
        {"noAccountForm", answer("200 OK", "<UNKNOWN>"), true, nullptr},
        {"controlCharacters", answer("200 OK", "host/al\nice"), true, nullptr},
        {"invalidUtf8", answer("200 OK", "host/\xff\xfe"), true, nullptr},
        {"notHttp", "SSH-2.0-OpenSSH_9.2\r\n\r\n", true, nullptr},
    };
    for (const auto &c : cases) {
        const DispatcherAccountQuery::Answer parsed = DispatcherAccountQuery::parseAnswer(c.bytes);
        EXPECT_EQ(parsed.complete, c.complete) << c.name;
        EXPECT_EQ(parsed.account.value_or(QString()), c.account ? QString::fromLatin1(c.account) : QString())
            << c.name;
    }
}

} // namespace
