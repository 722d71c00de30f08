#pragma once

#include <QByteArray>
#include <QList>

namespace vyr::signer {

// The certificates above `leaf` found in `pool`, nearest issuer first (DER each); stops at a
// self-signed one, a missing issuer or a loop.
QList<QByteArray> chainAbove(const QByteArray &leaf, const QList<QByteArray> &pool);

} // namespace vyr::signer
