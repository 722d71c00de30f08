#include "ConsentDialog.h"

#include "DialogParts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

ConsentDialog::ConsentDialog(const QByteArray &origin, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Allow access to your certificates?"));
    auto *layout = new QVBoxLayout(this);
    QLabel *requester = DialogParts::plainLabel(DialogParts::requesterText(origin), this);
    QFont bold = requester->font();
    bold.setBold(true);
    requester->setFont(bold);
    layout->addWidget(requester);
    layout->addWidget(DialogParts::plainLabel(
        tr("wants to see the certificates you can sign with (names, issuers, validity). "
           "It cannot sign anything without asking you."),
        this));
    m_poRemember = new QCheckBox(tr("Always allow this requester"), this);
    layout->addWidget(m_poRemember);
    QDialogButtonBox *buttons = DialogParts::confirmButtons(tr("Allow"), this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool ConsentDialog::rememberChosen() const
{
    return m_poRemember->isChecked();
}
