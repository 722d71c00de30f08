#pragma once

#include <QByteArray>
#include <veltrane/VyrModuleInterface.h>

// The three commands, each asking the user first; they throw SignerError. The origin comes
// only from the entry the server writes (kVyrOriginKey), never from a parameter.
namespace SignerCommands {
QByteArray listCertificates(const tRequestMap &request);
// {"signature","algorithm","certificate"}, or {"signatures":[...],"algorithm","certificate"}
// for a batch; base64 throughout.
QByteArray sign(const tRequestMap &request);
// {"signature"}, or {"signatures":[...]} for a batch; base64 DER.
QByteArray signCms(const tRequestMap &request);
} // namespace SignerCommands
