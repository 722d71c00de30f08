#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>

// Base64 of bytes that arrive in pieces, written straight into one buffer made big enough
// beforehand, after a fixed head: a signed document of tens of megabytes is encoded into its
// reply without a copy of the document or of the text. Owned and used by one thread at a time.
class Base64Writer
{
public:
    // Room is made at once for `expectedBytes` to be encoded; more still fit, at the cost of
    // moving the text.
    Base64Writer(QByteArrayView head, qint64 expectedBytes);
    void add(QByteArrayView bytes);
    // The head, the text with its last group padded, and the tail.
    QByteArray finish(QByteArrayView tail);

private:
    void encode(const char *bytes, qsizetype length);
    void makeRoom(qsizetype encodedBytes);

    QByteArray m_text;
    qsizetype m_written = 0;       // where the next encoded group goes
    std::array<char, 3> m_carry{}; // a group of three bytes being filled across pieces
    qsizetype m_carried = 0;
};
