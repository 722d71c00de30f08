#pragma once

#include "core/SigningKey.h"

#include <QByteArray>

// A CAdES-BES SignedData over content with an unlocked key, detached or enveloping.
// Bound to the CMS builder (cms/); throws SignerError.
QByteArray cmsSignature(SigningKey &key, SignatureAlgorithm algorithm, const QByteArray &content,
                        bool detached);
