#include "Base64Writer.h"

#include <algorithm>
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

Base64Writer::Base64Writer(QByteArrayView head, qint64 expectedBytes)
    : m_text(head.size() + encodedSize(expectedBytes), Qt::Uninitialized), m_written(head.size())
{
    std::copy(head.begin(), head.end(), m_text.begin());
}

void Base64Writer::add(QByteArrayView bytes)
{
    if (m_carried > 0) {
        const qsizetype taken = std::min(kGroup - m_carried, bytes.size());
        std::copy_n(bytes.data(), taken, m_carry.begin() + m_carried);
        m_carried += taken;
        bytes = bytes.sliced(taken);
        if (m_carried < kGroup)
            return;
        encode(m_carry.data(), kGroup);
        m_carried = 0;
    }
    const qsizetype whole = bytes.size() / kGroup * kGroup;
    encode(bytes.data(), whole);
    m_carried = bytes.size() - whole;
    std::copy_n(bytes.data() + whole, m_carried, m_carry.begin());
}

void Base64Writer::makeRoom(qsizetype encodedBytes)
{
    const qsizetype needed = m_written + encodedBytes;
    if (needed > m_text.size())
        m_text.resize(std::max(needed, m_text.size() + m_text.size() / 4));
}

void Base64Writer::encode(const char *bytes, qsizetype length)
{
    makeRoom(encodedSize(length));
    char *out = m_text.data() + m_written;
    for (qsizetype at = 0; at + kGroup <= length; at += kGroup, out += kEncodedGroup) {
        const unsigned group = byteAt(bytes, at) << 16 | byteAt(bytes, at + 1) << 8 | byteAt(bytes, at + 2);
        std::memcpy(out, kPairs[group >> 12].data(), 2);
        std::memcpy(out + 2, kPairs[group & kTwelveBits].data(), 2);
    }
    m_written = out - m_text.data();
}

QByteArray Base64Writer::finish(QByteArrayView tail)
{
    if (m_carried > 0) {
        // The last group, one or two bytes, padded as the standard alphabet pads.
        makeRoom(kEncodedGroup);
        const unsigned first = byteAt(m_carry.data(), 0),
                       second = m_carried > 1 ? byteAt(m_carry.data(), 1) : 0;
        char *out = m_text.data() + m_written;
        out[0] = kAlphabet[first >> 2];
        out[1] = kAlphabet[((first << 4) | (second >> 4)) & kSixBits];
        out[2] = m_carried > 1 ? kAlphabet[(second << 2) & kSixBits] : '=';
        out[3] = '=';
        m_written += kEncodedGroup;
        m_carried = 0;
    }
    m_text.truncate(m_written);
    m_text.append(tail.data(), tail.size());
    return std::move(m_text);
}
