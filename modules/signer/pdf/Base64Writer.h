#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Base64 of bytes that arrive in pieces, written straight into one buffer sized beforehand
// between a fixed head and tail: a signed document of tens of megabytes is encoded into its
// reply without a copy of the document, of the text, or a buffer that grows. Owned and used by
// one thread.
class Base64Writer
{
public:
    // `total` is the number of bytes add() will be given in all; more is a StoreError.
    Base64Writer(qint64 total, QByteArrayView head, QByteArrayView tail);
    void add(QByteArrayView bytes);
    // The head, the text and the tail; StoreError when add() was given less than the total.
    QByteArray finish();

private:
    void encode(const char *bytes, qsizetype length);

    QByteArray m_text;
    qsizetype m_written = 0; // where the next encoded group goes
    qint64 m_remaining = 0;  // bytes still to come
    QByteArray m_carry;      // at most two bytes short of a group of three
    QByteArray m_tail;
};
