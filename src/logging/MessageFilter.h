#pragma once

#include <QString>

// Lines that mention an HTTP method get their punctuation and line breaks blanked, so a
// request's text cannot forge extra log lines.
QString filterLogMessage(const QString &text);

// The longest text that reaches an output, prefix included.
inline constexpr int kMaxLogMessageLength = 300;
