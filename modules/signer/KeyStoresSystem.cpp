// The shipped binding of the store seam: the stores this user's settings name.

#include "KeyStores.h"
#include "core/SignerSettings.h"

vyr::signer::KeyStores &moduleKeyStores()
{
    static vyr::signer::KeyStores stores(vyr::signer::SignerSettings::load());
    return stores;
}
