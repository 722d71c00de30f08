#pragma once

#include "core/KeyStores.h"

// The stores of this module's life, first asked for on the main thread, where the signing
// commands run (they show dialogs). A link-time seam: the shipped module binds it to the
// stores its settings name, a test build to a store of its own.
vyr::signer::KeyStores &moduleKeyStores();
