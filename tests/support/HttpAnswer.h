#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>

// One HTTP answer as it came off the wire (or out of the in-process request path).
struct HttpAnswer
{
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers; // names as sent
    QByteArray headerBlock;               // status line to the empty line, exactly as sent
    QByteArray body;
    bool complete = false;

    int statusCode() const
    {
        const QList<QByteArray> parts = statusLine.split(' ');
        return parts.size() >= 2 ? parts[1].toInt() : 0;
    }

    // Fills statusLine and headers from headerBlock.
    void splitHeaderBlock()
    {
        const QList<QByteArray> lines = headerBlock.split('\n');
        statusLine = lines.value(0).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                headers.insert(line.left(colon), line.mid(colon + 1).trimmed());
        }
    }
};
