#include "MachineSeed.h"

namespace {
constexpr int kLetters = 25;
// The largest multiple of 25 a byte can hold; bytes from here up are drawn again.
constexpr unsigned char kFirstRejected = 250;
} // namespace

QByteArray MachineSeed::lettersFrom(QByteArrayView randomBytes)
{
    QByteArray letters;
    for (const char byte : randomBytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < kFirstRejected)
            letters.append(static_cast<char>('A' + value % kLetters));
    }
    return letters;
}
