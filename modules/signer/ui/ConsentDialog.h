#pragma once

#include <QDialog>

class QCheckBox;

// Asks whether a requester may see the certificates of this user. Enter allows, Escape (or
// the session's timeout closing every window) denies. Main thread only.
class ConsentDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ConsentDialog(const QByteArray &origin, QWidget *parent = nullptr);
    bool rememberChosen() const;

private:
    QCheckBox *m_poRemember;
};
