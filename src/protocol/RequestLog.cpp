#include "RequestLog.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "logging/SecretNames.h"

// These lines have always been written in the main logger's name, and that is what people
// filter the log for. A macro, so that lines below the level evaluate none of their values.
#define VYR_REQUEST_LINE(level, method)                                                                      \
    VYR_LOG_SCOPED(serverLogChannel(), level, QStringLiteral("ServerLogger"), QLatin1String(method))

void RequestLog::logRequest(const HttpRequest &request)
{
    constexpr char kMethod[] = "logRequest";
    // Keep-alive polls arrive all the time; one line each is enough.
    if (request.path().contains("KeepAlive")) {
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod) << request.method() << " " << request.path();
        return;
    }
    // What a page sends may be data to sign or a PIN: values only at debug level, and the
    // values of secret-named entries never.
    const QMultiMap<QByteArray, QByteArray> &headers = request.headerMap();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod)
            << "Header: " << it.key() << ": " << loggableValue(it.key(), it.value());
    const QMap<QByteArray, QByteArray> &cookies = request.cookieMap();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod)
            << "Cookie: " << it.key() << ": " << loggableValue(it.key(), it.value());
    const QMultiMap<QByteArray, QByteArray> &parameters = request.parameterMap();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod)
            << "Param: " << it.key() << ": " << loggableValue(it.key(), it.value());
    VYR_REQUEST_LINE(LogLevel::Info, kMethod) << request.method() << " " << request.path();
}

void RequestLog::logResponse(const HttpRequest &request, const HttpResponse &response)
{
    constexpr char kMethod[] = "logResponse";
    const QMap<QByteArray, QByteArray> &headers = response.headers();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod) << "Response Header: " << it.key() << ": " << it.value();
    const QMap<QByteArray, HttpCookie> &cookies = response.cookies();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        VYR_REQUEST_LINE(LogLevel::Debug, kMethod)
            << "Cookie: " << it.key() << ": " << loggableValue(it.key(), it.value().value());
    VYR_REQUEST_LINE(LogLevel::Info, kMethod)
        << request.method() << " " << request.path() << " -> " << response.statusCode();
}
