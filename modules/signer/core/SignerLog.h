#pragma once

#include <QLoggingCategory>

// The module writes through Qt's logging, which the server routes into its own log; it never
// writes a PIN, a password or key material.
Q_DECLARE_LOGGING_CATEGORY(lcSigner)
