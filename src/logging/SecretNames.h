#pragma once

#include <QByteArray>

// Parameters and headers whose names suggest a PIN, a password or a token carry secrets a
// page hands to a module; their values never reach the log, at any level.
bool isSecretName(const QByteArray &name);

// The value as a log line may show it: the value itself, or a placeholder for a secret.
QByteArray loggableValue(const QByteArray &name, const QByteArray &value);
