#pragma once

class HttpRequest;
class HttpResponse;

// The server log's line per request and per reply, with the values a page sent. Called on
// the connection's thread.
namespace RequestLog {
void logRequest(const HttpRequest &request);
void logResponse(const HttpRequest &request, const HttpResponse &response);
} // namespace RequestLog
