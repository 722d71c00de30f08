#include "Base64Writer.h"

#include "core/SignerError.h"

#include <array>
#include <cstring>

namespace {
constexpr qsizetype kGroup = 3;
constexpr qsizetype kEncodedGroup = 4;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned kSixBits = 0x3F;
constexpr unsigned kTwelveBits = 0xFFF;

// The two characters of every 12 bits: a group of three bytes is two lookups, which runs
// several times faster than a character at a time.
constexpr std::array<std::array<char, 2>, kTwelveBits + 1> kPairs = [] {
    std::array<std::array<char, 2>, kTwelveBits + 1> pairs{};
    for (unsigned bits = 0; bits <= kTwelveBits; ++bits)
        pairs[bits] = {kAlphabet[bits >> 6], kAlphabet[bits & kSixBits]};
    return pairs;
}();

qsizetype encodedSize(qint64 bytes)
{
    return static_cast<qsizetype>((bytes + kGroup - 1) / kGroup * kEncodedGroup);
}

unsigned byteAt(const char *bytes, qsizetype index)
{
    return static_cast<unsigned char>(bytes[index]);
}
} // namespace

Base64Writer::Base64Writer(qint64 total, QByteArrayView head, QByteArrayView tail)
    : m_text(head.size() + encodedSize(total) + tail.size(), Qt::Uninitialized), m_written(head.size()),
      m_remaining(total), m_tail(tail.toByteArray())
{
    std::copy(head.begin(), head.end(), m_text.begin());
}

void Base64Writer::add(QByteArrayView bytes)
{
    if (bytes.size() > m_remaining)
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The reply was given too many bytes."));
    m_remaining -= bytes.size();
    if (!m_carry.isEmpty()) {
        const qsizetype taken = std::min(kGroup - m_carry.size(), bytes.size());
        m_carry.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (m_carry.size() < kGroup && m_remaining > 0)
            return;
        encode(m_carry.constData(), m_carry.size());
        m_carry.clear();
    }
    const qsizetype whole = m_remaining > 0 ? bytes.size() / kGroup * kGroup : bytes.size();
    encode(bytes.data(), whole);
    m_carry.append(bytes.sliced(whole));
}

void Base64Writer::encode(const char *bytes, qsizetype length)
{
    char *out = m_text.data() + m_written;
    qsizetype at = 0;
    for (; at + kGroup <= length; at += kGroup, out += kEncodedGroup) {
        const unsigned group = byteAt(bytes, at) << 16 | byteAt(bytes, at + 1) << 8 | byteAt(bytes, at + 2);
        std::memcpy(out, kPairs[group >> 12].data(), 2);
        std::memcpy(out + 2, kPairs[group & kTwelveBits].data(), 2);
    }
    if (at < length) {
        // The last group, one or two bytes, padded as the standard alphabet pads.
        const unsigned first = byteAt(bytes, at), second = at + 1 < length ? byteAt(bytes, at + 1) : 0;
        out[0] = kAlphabet[first >> 2];
        out[1] = kAlphabet[((first << 4) | (second >> 4)) & kSixBits];
        out[2] = at + 1 < length ? kAlphabet[(second << 2) & kSixBits] : '=';
        out[3] = '=';
        out += kEncodedGroup;
    }
    m_written = out - m_text.data();
}

QByteArray Base64Writer::finish()
{
    if (m_remaining != 0 || !m_carry.isEmpty() || m_written != m_text.size() - m_tail.size())
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The reply is incomplete."));
    std::copy(m_tail.begin(), m_tail.end(), m_text.begin() + m_written);
    return std::move(m_text);
}
