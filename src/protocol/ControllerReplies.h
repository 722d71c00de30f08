#pragma once

#include "common/ResultData.h"

// The controller's fixed answers, status line and body, as pages see them.
namespace ControllerReplies {
inline const ResultData kBadParameters(400, "Bad Request", "The parameters you passed are not valid.");
inline const ResultData kForbidden(403, "Forbidden", "You don't have permissions to access this resource.");
inline const ResultData kNotFound(404, "Not Found", "The URL you requested was not found.");
inline const ResultData kNoServerForAccount(404, "Not Found", "No VYR server runs for your account.");
inline const ResultData kNoSession(418, "No Session", "Session with provided ID doesn't exist.");
inline const ResultData kTooManySessions(503, "Service Unavailable",
                                         "The VYR server holds too many sessions. Try again later.");
inline const ResultData kSessionValuesTooLarge(413, "Payload Too Large",
                                               "The session cannot hold more values of this size.");
} // namespace ControllerReplies
