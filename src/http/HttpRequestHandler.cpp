#include "HttpRequestHandler.h"

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "logging/LogStatement.h"

HttpRequestHandler::HttpRequestHandler(QObject *parent) : QObject(parent) {}

HttpRequestHandler::~HttpRequestHandler() = default;

void HttpRequestHandler::service(HttpRequest &request, HttpResponse &response)
{
    VYR_LOG_SERVER(Critical) << "HttpRequestHandler: you need to override the service() function";
    VYR_LOG_SERVER(Debug) << "HttpRequestHandler: request=" << request.method() << " " << request.path()
                          << " " << request.version();
    response.setStatus(501, "not implemented");
    response.write("501 not implemented", true);
}
