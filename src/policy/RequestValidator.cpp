#include "RequestValidator.h"

#include "common/ServerVersion.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"

#include <QRegularExpression>

namespace {
void refuse(HttpResponse &response, int code)
{
    if (code == 400) {
        response.setStatus(400, "Bad Request");
        response.write("<h1>400 error: Bad Request</h1>", true);
    } else {
        response.setStatus(404, "File Not Found");
        response.write("<h1>404 error: File Not Found</h1>", true);
    }
}

QByteArray describe(const HttpRequest &request)
{
    return request.method() + ' ' + request.path();
}

// Names and values of a map, measured by the value a lookup by name answers (the newest).
template <typename Lookup>
bool withinLimits(const QList<QByteArray> &names, Lookup lookup, int nameLimit, int valueLimit,
                  QByteArray *name, QByteArray *value)
{
    for (const QByteArray &candidate : names) {
        const QByteArray candidateValue = lookup(candidate);
        if (candidate.size() > nameLimit || candidateValue.size() > valueLimit) {
            *name = candidate;
            *value = candidateValue;
            return false;
        }
    }
    return true;
}
} // namespace

bool RequestValidator::validateRequest(HttpRequest &request, HttpResponse &response)
{
    return validateMethod(request, response) && validatePath(request, response) &&
           verifyBody(request, response) && validateHeaders(request, response) &&
           validateCookies(request, response) && validateParams(request, response);
}

bool RequestValidator::validateMethod(HttpRequest &request, HttpResponse &response)
{
    const QByteArray method = request.method();
    if (method.size() > kMaxMethodSize) {
        VYR_LOG_SERVER(Warning) << "Method size: " << method.size();
        refuse(response, 400);
        return false;
    }
    if (method == "OPTIONS" || method == "POST")
        return true;
    const QByteArray path = request.path().toLower();
    if (method == "GET" && (path == "status" || path == "/status")) {
        VYR_LOG_SERVER(Info) << "Request for status";
        response.setStatus(200, "OK");
        response.write(QStringLiteral("<h1>Veltrane Crypto Server v%1 is running </h1>")
                           .arg(QLatin1String(kServerVersion))
                           .toUtf8(),
                       true);
        return false;
    }
    VYR_LOG_SERVER(Warning) << "Unsupported method: " << method;
    refuse(response, 404);
    return false;
}

bool RequestValidator::validatePath(HttpRequest &request, HttpResponse &response)
{
    const QByteArray path = request.path();
    if (path.size() > kMaxPathSize) {
        VYR_LOG_SERVER(Warning) << "Path size to long: " << path.size();
        refuse(response, 404);
        return false;
    }
    static const QRegularExpression allowed(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_\\/-]*")));
    if (allowed.match(QString::fromLatin1(path)).hasMatch()) {
        VYR_LOG_SERVER(Debug) << "Path is valid";
        return true;
    }
    VYR_LOG_SERVER(Warning) << "Path is invalid";
    refuse(response, 404);
    return false;
}

bool RequestValidator::verifyBody(HttpRequest &request, HttpResponse &response)
{
    if (request.body().size() <= kMaxBodySize)
        return true;
    VYR_LOG_SERVER(Warning) << "Body too long. " << describe(request)
                            << ": body size : " << request.body().size();
    refuse(response, 400);
    return false;
}

bool RequestValidator::validateHeaders(HttpRequest &request, HttpResponse &response)
{
    QByteArray name, value;
    const auto lookup = [&request](const QByteArray &key) { return request.header(key); };
    if (withinLimits(request.headerMap().uniqueKeys(), lookup, kMaxHeaderNameSize, kMaxHeaderValueSize, &name,
                     &value))
        return true;
    VYR_LOG_SERVER(Warning) << "Request rejected. " << describe(request)
                            << ". Header key size: " << name.size()
                            << ". Header value size: " << value.size();
    VYR_LOG_SERVER(Debug) << name << ":" << value;
    refuse(response, 400);
    return false;
}

bool RequestValidator::validateCookies(HttpRequest &request, HttpResponse &response)
{
    QByteArray name, value;
    const auto lookup = [&request](const QByteArray &key) { return request.cookie(key); };
    if (withinLimits(request.cookieMap().keys(), lookup, kMaxCookieNameSize, kMaxCookieValueSize, &name,
                     &value))
        return true;
    VYR_LOG_SERVER(Warning) << "Request rejected. " << describe(request)
                            << ". Cookie key size: " << name.size()
                            << ". Cookie value size: " << value.size();
    VYR_LOG_SERVER(Debug) << name << ":" << value;
    refuse(response, 400);
    return false;
}

bool RequestValidator::validateParams(HttpRequest &request, HttpResponse &response)
{
    QByteArray name, value;
    const auto lookup = [&request](const QByteArray &key) { return request.parameter(key); };
    if (withinLimits(request.parameterMap().uniqueKeys(), lookup, kMaxParamNameSize, kMaxParamValueSize,
                     &name, &value))
        return true;
    VYR_LOG_SERVER(Warning) << "Request rejected. " << describe(request)
                            << ". Param key size: " << name.size() << ". Param value size: " << value.size();
    VYR_LOG_SERVER(Debug) << name << ":" << value;
    refuse(response, 400);
    return false;
}
