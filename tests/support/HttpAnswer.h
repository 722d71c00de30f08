#pragma once

#include "WaitUntil.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>

// One HTTP answer as it came off the wire (or out of the in-process request path).
struct HttpAnswer
{
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers; // names as sent
    QByteArray headerBlock;               // status line to the empty line, exactly as sent
    QByteArray body;

    int statusCode() const { return statusLine.split(' ').value(1).toInt(); }

    // Takes one answer's head off the front of bytes; false while the head is incomplete.
    bool takeHead(QByteArray &bytes)
    {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        headerBlock = bytes.left(end + 4);
        bytes.remove(0, end + 4);
        const QList<QByteArray> lines = headerBlock.trimmed().split('\n');
        statusLine = lines.value(0).trimmed();
        for (const QByteArray &line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                headers.insert(line.left(colon), line.mid(colon + 1).trimmed());
        }
        return true;
    }
};

inline QByteArray resultPath(const QByteArray &commandId)
{
    return "/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(commandId);
}

// Repeats a GET_RESULT request while its job still runs, for at most 20 s.
inline HttpAnswer pollWhileRunning(const std::function<HttpAnswer()> &request)
{
    HttpAnswer answer;
    waitUntil(
        [&] {
            answer = request();
            return answer.statusCode() != 202;
        },
        std::chrono::seconds(20));
    return answer;
}

// Session and command IDs.
inline bool isBracedUuid(const QByteArray &text)
{
    static const QRegularExpression uuid(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    return uuid.match(QString::fromLatin1(text)).hasMatch();
}
