#pragma once

#include <QByteArray>

namespace vyr::signer {

// The id a page gets for a certificate: a digest over the kind of store, where in it the key
// lives (token identity or file) and the certificate, so it is the same across runs and says
// nothing a page could use. An id is only ever looked up among what the stores list.
QByteArray makeKeyId(const QByteArray &storeKind, const QByteArray &location,
                     const QByteArray &certificateDer);

// The shape of every id we hand out; anything else is refused before a store is asked.
bool looksLikeKeyId(const QByteArray &text);

} // namespace vyr::signer
