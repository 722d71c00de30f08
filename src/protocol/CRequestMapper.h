#pragma once

#include "ControllerContext.h"
#include "http/HttpRequestHandler.h"

// Every parsed request arrives here, on its connection handler's thread: validation,
// the request log, then the controller for POST and the CORS answer for OPTIONS.
class CRequestMapper : public HttpRequestHandler
{
    Q_OBJECT
public:
    explicit CRequestMapper(ControllerContext context = ControllerContext::process(),
                            QObject *parent = nullptr);
    void service(HttpRequest &request, HttpResponse &response) override;

private:
    const ControllerContext m_oContext; // read-only after construction; shared by handler threads
};
