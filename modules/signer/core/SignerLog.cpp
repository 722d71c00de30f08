#include "SignerLog.h"

Q_LOGGING_CATEGORY(lcSigner, "veltrane.signer")
