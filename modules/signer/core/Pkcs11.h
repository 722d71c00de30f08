#pragma once

// The PKCS#11 declarations of p11-kit with their own lower-case names: its compatible
// spelling defines macros such as `value`, which would rewrite every QMap::value() after it.
#define CRYPTOKI_GNU 1
#include <p11-kit/pkcs11.h>

namespace vyr::signer {

inline constexpr unsigned char kCkTrue = 1;

} // namespace vyr::signer
