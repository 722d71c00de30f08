#pragma once

#include <QByteArray>
#include <veltrane/VyrModuleInterface.h>

// The commands, each asking the user first; they throw SignerError. The origin comes
// only from the entry the server writes (kVyrOriginKey), never from a parameter.
namespace SignerCommands {
QByteArray listCertificates(const tRequestMap &request);
// {"signature","algorithm","certificate"}, or {"signatures":[...],"algorithm","certificate"}
// for a batch; base64 throughout.
QByteArray sign(const tRequestMap &request);
// {"signature"}, or {"signatures":[...]} for a batch; base64 DER.
QByteArray signCms(const tRequestMap &request);
// {"document"}: the PDF, from the server's upload of field "document" or inline base64, with a
// PAdES signature appended as an incremental update.
QByteArray signPdf(const tRequestMap &request);
} // namespace SignerCommands
