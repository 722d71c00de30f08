#pragma once

#include <QByteArray>

// A command ID as a page sends it (parameter or header), HTML-escaped and trimmed; kept only
// when it is a braced UUID or a counter of at most 13 digits, empty otherwise. Every value
// that reaches the job table, the log or a reply as an ID has passed through here.
QByteArray escapeAndConvertToValidID(const QByteArray &data);
