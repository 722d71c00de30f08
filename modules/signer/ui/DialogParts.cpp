#include "DialogParts.h"

#include "PageText.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

namespace DialogParts {

QString requesterText(const QByteArray &origin)
{
    if (origin.isEmpty())
        return QObject::tr("A program on this computer");
    return plainPageText(origin, 200);
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setWordWrap(true);
    return label;
}

QDialogButtonBox *confirmButtons(const QString &confirmText, QWidget *parent)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, parent);
    QPushButton *confirm = buttons->button(QDialogButtonBox::Ok);
    confirm->setText(confirmText);
    confirm->setDefault(true);
    return buttons;
}

} // namespace DialogParts
