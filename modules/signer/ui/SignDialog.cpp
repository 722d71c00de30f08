#include "SignDialog.h"

#include "DialogParts.h"
#include "PageText.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSslCertificate>
#include <QVBoxLayout>

namespace {
// Enough to recognise what one signs; a longer text is the page's problem, not the user's.
constexpr qsizetype kMaxDescriptionChars = 400;
// A batch of a thousand still fits on a screen: the rest is counted, not listed.
constexpr qsizetype kMaxListedItems = 8;
// A file name is recognised by its start; the rest would only push the buttons off screen.
constexpr qsizetype kMaxFileNameChars = 120;

QString joinedName(const QSslCertificate &certificate, bool issuer)
{
    const QStringList cn = issuer ? certificate.issuerInfo(QSslCertificate::CommonName)
                                  : certificate.subjectInfo(QSslCertificate::CommonName);
    const QStringList org = issuer ? certificate.issuerInfo(QSslCertificate::Organization)
                                   : certificate.subjectInfo(QSslCertificate::Organization);
    return (cn + org).join(QStringLiteral(", "));
}
} // namespace

SignDialog::SignDialog(const SigningSummary &summary, SigningKey::SecretKind secretKind, Login login,
                       QWidget *parent)
    : QDialog(parent), m_oLogin(std::move(login))
{
    setWindowTitle(tr("Sign with your certificate"));
    auto *layout = new QVBoxLayout(this);
    // Sized by its contents, so wrapped page text is shown whole rather than clipped.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QLabel *requester = DialogParts::plainLabel(DialogParts::requesterText(summary.origin), this);
    QFont bold = requester->font();
    bold.setBold(true);
    requester->setFont(bold);
    layout->addWidget(requester);
    layout->addWidget(DialogParts::plainLabel(tr("asks you to sign."), this));
    const QString description = breakableText(plainPageText(summary.description, kMaxDescriptionChars), 40);
    if (!description.isEmpty())
        layout->addWidget(
            DialogParts::plainLabel(tr("In the page's own words: \u201c%1\u201d").arg(description), this));
    addCertificate(summary.certificate);
    if (summary.document)
        addDocument(*summary.document);
    else
        addItems(summary.items);
    addSecretField(secretKind);
    m_poStatus = DialogParts::plainLabel(QString(), this);
    layout->addWidget(m_poStatus);
    QDialogButtonBox *buttons = DialogParts::confirmButtons(tr("Sign"), this);
    m_poConfirm = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SignDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SignDialog::addCertificate(const QByteArray &der)
{
    const QSslCertificate certificate(der, QSsl::Der);
    auto *form = new QFormLayout();
    const QLocale locale;
    form->addRow(tr("Certificate:"), DialogParts::plainLabel(joinedName(certificate, false), this));
    form->addRow(tr("Issued by:"), DialogParts::plainLabel(joinedName(certificate, true), this));
    form->addRow(
        tr("Valid:"),
        DialogParts::plainLabel(tr("%1 to %2")
                                    .arg(locale.toString(certificate.effectiveDate(), QLocale::ShortFormat),
                                         locale.toString(certificate.expiryDate(), QLocale::ShortFormat)),
                                this));
    static_cast<QVBoxLayout *>(layout())->addLayout(form);
}

void SignDialog::addItems(const QList<SigningSummary::Item> &items)
{
    QStringList lines{tr("%n item(s):", nullptr, static_cast<int>(items.size()))};
    for (qsizetype i = 0; i < std::min(items.size(), kMaxListedItems); ++i)
        lines << tr("%1 bytes, SHA-256 %2")
                     .arg(items[i].size)
                     .arg(QString::fromLatin1(items[i].sha256.toHex()));
    if (items.size() > kMaxListedItems)
        lines << tr("and %n more", nullptr, static_cast<int>(items.size() - kMaxListedItems));
    QLabel *list = DialogParts::plainLabel(lines.join(QLatin1Char('\n')), this);
    list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout()->addWidget(list);
}

void SignDialog::addDocument(const SigningSummary::Document &document)
{
    const QString name = breakableText(plainPageText(document.fileName, kMaxFileNameChars), 40);
    QStringList lines{name.isEmpty() ? tr("A PDF document") : tr("PDF document “%1”").arg(name),
                      tr("%n page(s), %1 bytes", nullptr, document.pageCount).arg(document.size),
                      tr("SHA-256 %1").arg(QString::fromLatin1(document.sha256.toHex()))};
    lines << (document.signatureCount == 0
                  ? tr("Not signed yet.")
                  : tr("Already carries %n signature(s).", nullptr, document.signatureCount));
    layout()->addWidget(DialogParts::plainLabel(lines.join(QLatin1Char('\n')), this));
}

void SignDialog::addSecretField(SigningKey::SecretKind kind)
{
    if (kind == SigningKey::SecretKind::None)
        return;
    m_poSecret = new QLineEdit(this);
    m_poSecret->setEchoMode(QLineEdit::Password);
    m_poSecret->setMaxLength(256);
    auto *form = new QFormLayout();
    form->addRow(kind == SigningKey::SecretKind::Pin ? tr("PIN:") : tr("Password:"), m_poSecret);
    static_cast<QVBoxLayout *>(layout())->addLayout(form);
    m_poSecret->setFocus(Qt::OtherFocusReason);
}

void SignDialog::accept()
{
    if (m_eOutcome == Outcome::Locked)
        return;
    if (m_poSecret) {
        QByteArray secret = m_poSecret->text().toUtf8();
        m_poSecret->clear();
        LoginResult result;
        if (!tryLogin(secret, result))
            return;
        if (result.outcome != LoginResult::Outcome::Ok) {
            showLoginFailure(result);
            return;
        }
    }
    m_eOutcome = Outcome::Unlocked;
    QDialog::accept();
}

bool SignDialog::tryLogin(QByteArray &secret, LoginResult &result)
{
    try {
        result = m_oLogin(secret);
    } catch (...) {
        m_pFailure = std::current_exception();
    }
    secret.fill('\0');
    if (m_pFailure)
        QDialog::reject();
    return !m_pFailure;
}

void SignDialog::showLoginFailure(const LoginResult &result)
{
    if (result.outcome == LoginResult::Outcome::Locked) {
        m_eOutcome = Outcome::Locked;
        m_poStatus->setText(tr("The PIN is locked: this key cannot be used until it is unblocked."));
        if (m_poSecret)
            m_poSecret->setEnabled(false);
        m_poConfirm->setEnabled(false);
        return;
    }
    QString text = tr("The PIN or password is not correct.");
    if (result.triesLeft)
        text += QLatin1Char(' ') + tr("%n tries left.", nullptr, *result.triesLeft);
    m_poStatus->setText(text);
    m_poSecret->setFocus(Qt::OtherFocusReason);
}
