#pragma once

#include "SigningSummary.h"
#include "core/SigningKey.h"

#include <QDialog>
#include <exception>
#include <functional>

class QLabel;
class QLineEdit;

// Shows what will be signed and takes the PIN or password. Enter signs, Escape (or the
// session's timeout closing every window) cancels. A wrong PIN keeps the dialog open with the
// tries left; a locked token is reported and the Sign button goes. Main thread only.
class SignDialog : public QDialog
{
    Q_OBJECT
public:
    enum class Outcome
    {
        Cancelled,
        Unlocked,
        Locked
    };
    using Login = std::function<LoginResult(const QByteArray &secret)>;

    SignDialog(const SigningSummary &summary, SigningKey::SecretKind secretKind, Login login,
               QWidget *parent = nullptr);
    Outcome outcome() const { return m_eOutcome; }
    // What the login threw (a token gone, say); it closed the dialog, since nothing may
    // unwind through the dialog's event loop. Null otherwise.
    std::exception_ptr failure() const { return m_pFailure; }

    void accept() override;
    // For a key already locked when the dialog opens: no secret is taken, only Cancel is left.
    void showLocked() { showLoginFailure({LoginResult::Outcome::Locked, 0}); }

private:
    void addCertificate(const QByteArray &der);
    void addItems(const QList<SigningSummary::Item> &items);
    void addDocument(const SigningSummary::Document &document);
    void addSecretField(SigningKey::SecretKind kind);
    // False when the login threw; the dialog is then closed.
    bool tryLogin(QByteArray &secret, LoginResult &result);
    void showLoginFailure(const LoginResult &result);

    Login m_oLogin;
    QLineEdit *m_poSecret = nullptr; // none for a key that needs no secret
    QLabel *m_poStatus = nullptr;
    QWidget *m_poConfirm = nullptr;
    Outcome m_eOutcome = Outcome::Cancelled;
    std::exception_ptr m_pFailure;
};
