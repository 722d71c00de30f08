#pragma once

#include "core/SignRequest.h"
#include "core/SigningKey.h"
#include "ui/SigningSummary.h"

#include <QByteArray>
#include <QList>

// The user's say, through the dialogs; each throws CANCELLED when the user (or the session's
// timeout) says no. Main thread only, where GUI commands run.
namespace UserConfirmation {
// Returns at once for a remembered origin; asks otherwise.
void allowListing(const QByteArray &origin);
// Shows what will be signed and unlocks the key with the PIN or password typed there;
// PIN_LOCKED when the token locked.
void unlockForSigning(const QByteArray &origin, const vyr::signer::SignRequest &input, SigningKey &key);
// The same for a summary the command built itself (a whole document).
void unlockForSigning(const SigningSummary &summary, SigningKey &key);
} // namespace UserConfirmation
