#include "SecretNames.h"

#include <array>

namespace {
// Matched anywhere in the name, case-insensitively: "userPin", "X-Auth-Token" and
// "newPassword2" are all secrets. A harmless name that happens to match only loses its value
// from the log.
constexpr std::array<const char *, 6> kSecretFragments = {"pin",    "password", "passphrase",
                                                          "secret", "token",    "authorization"};
constexpr char kHidden[] = "<hidden>";
} // namespace

bool isSecretName(const QByteArray &name)
{
    const QByteArray lower = name.toLower();
    for (const char *fragment : kSecretFragments) {
        if (lower.contains(fragment))
            return true;
    }
    return false;
}

QByteArray loggableValue(const QByteArray &name, const QByteArray &value)
{
    return isSecretName(name) ? QByteArray(kHidden) : value;
}
