#pragma once

#include <QByteArray>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QWidget;

// Pieces both dialogs share, so the two never describe a requester differently.
namespace DialogParts {
// Who asks, in the user's words: the page's origin, or a local program.
QString requesterText(const QByteArray &origin);
// A label that shows text as it is: never markup, never a link.
QLabel *plainLabel(const QString &text, QWidget *parent);
// The confirm button is the default one, so Enter confirms; Escape rejects on any QDialog.
QDialogButtonBox *confirmButtons(const QString &confirmText, QWidget *parent);
} // namespace DialogParts
