#include "UserConfirmation.h"

#include "OriginConsent.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"
#include "ui/ConsentDialog.h"
#include "ui/SignDialog.h"

#include <QApplication>

namespace {
[[noreturn]] void cancelled()
{
    throw SignerError(SignerErrorCode::Cancelled, QStringLiteral("The user did not allow it."));
}

// A server started without a display (-console) has no GUI application: no one can be asked,
// and a widget made there would abort the whole server.
void requireDisplay()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        throw SignerError(SignerErrorCode::Cancelled,
                          QStringLiteral("No one can be asked: this server runs without a display."));
}

// A dialog out of nowhere is easy to miss or to type into by accident: it comes up in front,
// with the keyboard.
int showInFront(QDialog &dialog)
{
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    return dialog.exec();
}

SigningSummary summaryOf(const QByteArray &origin, const vyr::signer::SignRequest &input,
                         const SigningKey &key)
{
    SigningSummary summary{origin, key.certificate(), {}, input.description, std::nullopt};
    for (const QByteArray &item : input.items)
        summary.items.append({item.size(), vyr::signer::computeDigest(DigestAlgorithm::Sha256, item)});
    return summary;
}
} // namespace

namespace UserConfirmation {

void allowListing(const QByteArray &origin)
{
    OriginConsent consent;
    if (consent.isRemembered(origin))
        return;
    requireDisplay();
    ConsentDialog dialog(origin);
    if (showInFront(dialog) != QDialog::Accepted)
        cancelled();
    if (dialog.rememberChosen())
        consent.remember(origin);
}

void unlockForSigning(const QByteArray &origin, const vyr::signer::SignRequest &input, SigningKey &key)
{
    unlockForSigning(summaryOf(origin, input, key), key);
}

void unlockForSigning(const SigningSummary &summary, SigningKey &key)
{
    requireDisplay();
    SignDialog dialog(summary, key.secretKind(),
                      [&key](const QByteArray &secret) { return key.login(secret); });
    if (key.secretLocked())
        dialog.showLocked();
    showInFront(dialog);
    if (dialog.failure())
        std::rethrow_exception(dialog.failure());
    switch (dialog.outcome()) {
    case SignDialog::Outcome::Unlocked:
        return;
    case SignDialog::Outcome::Locked:
        throw SignerError(SignerErrorCode::PinLocked, QStringLiteral("The PIN is locked."));
    case SignDialog::Outcome::Cancelled:
        break;
    }
    cancelled();
}

} // namespace UserConfirmation
