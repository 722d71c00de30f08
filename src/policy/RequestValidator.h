#pragma once

class HttpRequest;
class HttpResponse;

// Stateless checks run on every complete request before anything else. A failing check
// has already written the whole answer (400, 404, or the status page) when it returns false.
// Origins are no concern here: the CORS policy decides them per module.
class RequestValidator
{
public:
    static bool validateRequest(HttpRequest &request, HttpResponse &response);

    static bool validateMethod(HttpRequest &request, HttpResponse &response);
    static bool validatePath(HttpRequest &request, HttpResponse &response);
    static bool verifyBody(HttpRequest &request, HttpResponse &response);
    static bool validateHeaders(HttpRequest &request, HttpResponse &response);
    static bool validateCookies(HttpRequest &request, HttpResponse &response);
    static bool validateParams(HttpRequest &request, HttpResponse &response);

    static constexpr int kMaxMethodSize = 128;
    static constexpr int kMaxPathSize = 128;
    static constexpr int kMaxBodySize = 10485760;
    static constexpr int kMaxHeaderNameSize = 128;
    static constexpr int kMaxHeaderValueSize = 256;
    static constexpr int kMaxCookieNameSize = 128;
    static constexpr int kMaxCookieValueSize = 128;
    static constexpr int kMaxParamNameSize = 128;
    static constexpr int kMaxParamValueSize = 10485760;
};
