#pragma once

#include <QObject>

class HttpRequest;
class HttpResponse;

// Base of the request handlers. A connection calls service on its own thread for each
// complete request, so implementations must be safe to run on several threads at once.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
public:
    explicit HttpRequestHandler(QObject *parent = nullptr);
    ~HttpRequestHandler() override;

    // The base answers 501, so a handler that forgot to override is noticed at once.
    virtual void service(HttpRequest &request, HttpResponse &response);
};
