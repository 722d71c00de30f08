#include "CRequestMapper.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "logging/ServerLogger.h"
#include "policy/RequestValidator.h"

CRequestMapper::CRequestMapper(QObject *parent) : HttpRequestHandler(parent) {}

void CRequestMapper::service(HttpRequest &request, HttpResponse &response)
{
    if (!RequestValidator::validateRequest(request, response))
        return;
    ServerLogger::instance().logRequest(request);
    VYR_LOG_SERVER(Debug) << "Finished request";
}
