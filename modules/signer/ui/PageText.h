#pragma once

#include <QByteArray>
#include <QString>

// Text a page supplied (its description, its origin) as a dialog may show it: valid UTF-8
// only, no control or formatting characters (so no line tricks, no right-to-left overrides
// that turn "gpj.exe" around), runs of white space folded, at most maxChars characters with an
// ellipsis where it was cut. Always shown in a plain-text label, never as markup.
QString plainPageText(const QByteArray &utf8, qsizetype maxChars);

// The same text with a break opportunity (a zero-width space) inside every run of more than
// runLength characters without one, so a page's endless word cannot widen a dialog past the
// screen.
QString breakableText(const QString &text, qsizetype runLength);
