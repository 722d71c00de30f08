#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QVariant>

struct SessionLimits;

// A counted handle to one client session's values. Copies share the data; the last handle
// to go frees it. Any thread may use a handle: the data carries its own lock.
class HttpSession
{
public:
    // With create, new data with a fresh braced UUID as ID; without, a null session.
    explicit HttpSession(bool create = false);
    HttpSession(const HttpSession &other);
    HttpSession &operator=(const HttpSession &other);
    virtual ~HttpSession();

    QByteArray getId() const;
    bool isNull() const { return m_pData == nullptr; }

    void set(const QByteArray &key, const QVariant &value);
    // What setWithin did with a batch of values: all of them stored, or none.
    enum class Outcome
    {
        Stored,
        NoSession,
        TooManyValues,
        TooManyBytes,
    };
    // Stores every entry, in order, only when the session then stays within the limits'
    // count and size of values; checked and stored under one lock, so racing requests
    // cannot overshoot together.
    Outcome setWithin(const QList<QPair<QByteArray, QVariant>> &entries, const SessionLimits &limits);
    // The bytes a value counts for: its text, or a structured value's compact JSON.
    static qint64 sizeOf(const QByteArray &key, const QVariant &value);
    QVariant get(const QByteArray &key) const;
    bool contains(const QByteArray &key) const;
    QMap<QByteArray, QVariant> getAll() const;

    // Milliseconds since the epoch; 0 for a null session.
    qint64 getLastAccess() const;
    void setLastAccess();
    void setLastAccess(qint64 msecsSinceEpoch);

private:
    struct Data;
    void release(const char *message);

    Data *m_pData = nullptr; // shared, freed by the handle that drops the last reference
};
