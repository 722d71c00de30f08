#pragma once

#include "core/SigningKey.h"

#include <memory>
#include <vector>

// Every store this user's settings name, in listing order. A link-time seam: the shipped
// module binds it to the PKCS#11 and PKCS#12 stores, a test build to a store of its own.
using KeyStoreList = std::vector<std::unique_ptr<KeyStore>>;
KeyStoreList openKeyStores();

// The key of that listing id from whichever store holds it; CERTIFICATE_NOT_FOUND otherwise.
// The stores must outlive the key.
std::unique_ptr<SigningKey> openKeyById(const KeyStoreList &stores, const QByteArray &id);
