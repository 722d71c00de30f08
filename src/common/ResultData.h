#pragma once

#include <QByteArray>

// One outcome of a command request: code and text form the status line, message the body.
struct ResultData
{
    qint32 statusCode = 200;
    QByteArray statusText = "OK";
    QByteArray message;

    ResultData() = default;
    ResultData(qint32 code, QByteArray text, QByteArray body = {})
        : statusCode(code), statusText(std::move(text)), message(std::move(body))
    {
    }
    bool operator==(const ResultData &) const = default;
};
