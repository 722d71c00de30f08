#pragma once

#include <QString>

namespace vyr::signer {

// The directory of the shared object this code is linked into (the module's own directory);
// empty when the system cannot tell.
QString moduleDirectory();

} // namespace vyr::signer
