#include "LogStatement.h"
#include "SecretNames.h"
#include "ServerLogger.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

void ServerLogger::logRequest(const HttpRequest &request)
{
    // Keep-alive polls arrive all the time; one line each is enough.
    if (request.path().contains("KeepAlive")) {
        VYR_LOG_SERVER(Debug) << request.method() << " " << request.path();
        return;
    }
    // What a page sends may be data to sign or a PIN: values only at debug level, and the
    // values of secret-named entries never.
    const QMultiMap<QByteArray, QByteArray> &headers = request.headerMap();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        VYR_LOG_SERVER(Debug) << "Header: " << it.key() << ": " << loggableValue(it.key(), it.value());
    const QMap<QByteArray, QByteArray> &cookies = request.cookieMap();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        VYR_LOG_SERVER(Debug) << "Cookie: " << it.key() << ": " << loggableValue(it.key(), it.value());
    const QMultiMap<QByteArray, QByteArray> &parameters = request.parameterMap();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        VYR_LOG_SERVER(Debug) << "Param: " << it.key() << ": " << loggableValue(it.key(), it.value());
    VYR_LOG_SERVER(Info) << request.method() << " " << request.path();
}

void ServerLogger::logResponse(const HttpRequest &request, const HttpResponse &response)
{
    const QMap<QByteArray, QByteArray> &headers = response.headers();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        VYR_LOG_SERVER(Debug) << "Response Header: " << it.key() << ": " << it.value();
    const QMap<QByteArray, HttpCookie> &cookies = response.cookies();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        VYR_LOG_SERVER(Debug) << "Cookie: " << it.key() << ": "
                              << loggableValue(it.key(), it.value().value());
    VYR_LOG_SERVER(Info) << request.method() << " " << request.path() << " -> " << response.statusCode();
}
