#include "CRequestMapper.h"

#include "CSignController.h"
#include "RequestLog.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "policy/CORSSettings.h"
#include "policy/RequestValidator.h"

CRequestMapper::CRequestMapper(ControllerContext context, QObject *parent)
    : HttpRequestHandler(parent), m_oContext(std::move(context))
{
}

void CRequestMapper::service(HttpRequest &request, HttpResponse &response)
{
    if (!RequestValidator::validateRequest(request, response))
        return;
    RequestLog::logRequest(request);
    const QByteArray method = request.method();
    if (method == "POST") {
        CSignController controller(m_oContext);
        controller.service(request, response);
    } else if (method == "OPTIONS") {
        // The connection handler completes the preflight with an empty 200.
        m_oContext.cors()->setCORSHeaders(request, response);
        CSignController::SetSecurityHeaders(response);
    }
    VYR_LOG_SERVER(Debug) << "Finished request";
}
