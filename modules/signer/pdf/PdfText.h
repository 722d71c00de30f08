#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Text written into the update as PDF syntax. Whatever a page sent arrives here as a QString
// and leaves as one well-formed string token: no byte of it can close the string early.
namespace pdf {

// A text string: a literal when every character is printable ASCII, UTF-16BE in hex otherwise.
QByteArray textString(const QString &text);
// A literal in the WinAnsi encoding of the standard fonts; characters it lacks become '?'.
QByteArray winAnsiString(const QString &text);
// A date string in universal time: (D:YYYYMMDDHHmmSS+00'00').
QByteArray date(const QDateTime &time);
// A real number without exponent, to a hundredth of a point.
QByteArray number(double value);

} // namespace pdf
