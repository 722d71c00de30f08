#include "HttpSession.h"

#include "logging/LogStatement.h"
#include "settings/SessionLimits.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QReadWriteLock>
#include <QUuid>

struct HttpSession::Data
{
    QByteArray id;
    QMap<QByteArray, QVariant> values;
    qint64 valueBytes = 0; // sizeOf summed over values
    qint64 lastAccess = 0;
    qint32 refCount = 1;
    mutable QReadWriteLock lock;
};

HttpSession::HttpSession(bool create)
{
    if (!create)
        return;
    m_pData = new Data;
    m_pData->id = QUuid::createUuid().toString(QUuid::WithBraces).toLocal8Bit();
    m_pData->lastAccess = QDateTime::currentMSecsSinceEpoch();
}

HttpSession::HttpSession(const HttpSession &other) : m_pData(other.m_pData)
{
    if (m_pData) {
        const QWriteLocker locker(&m_pData->lock);
        ++m_pData->refCount;
    }
}

// Self-assignment is harmless: the new reference is taken before the old one is dropped.
HttpSession &HttpSession::operator=(const HttpSession &other) // NOLINT(bugprone-unhandled-self-assignment)
{
    Data *const previous = m_pData;
    if (other.m_pData) {
        const QWriteLocker locker(&other.m_pData->lock);
        ++other.m_pData->refCount;
        other.m_pData->lastAccess = QDateTime::currentMSecsSinceEpoch();
    }
    m_pData = other.m_pData;
    if (previous) {
        HttpSession old;
        old.m_pData = previous;
        old.release("HttpSession: deleting old data");
    }
    return *this;
}

HttpSession::~HttpSession()
{
    release("HttpSession: deleting data");
}

void HttpSession::release(const char *message)
{
    if (!m_pData)
        return;
    qint32 remaining = 0;
    {
        const QWriteLocker locker(&m_pData->lock);
        remaining = --m_pData->refCount;
    }
    if (remaining == 0) {
        VYR_LOG_SERVER(Debug) << message;
        delete m_pData;
    }
    m_pData = nullptr;
}

QByteArray HttpSession::getId() const
{
    if (!m_pData)
        return QByteArray();
    const QReadLocker locker(&m_pData->lock);
    return m_pData->id;
}

void HttpSession::set(const QByteArray &key, const QVariant &value)
{
    if (!m_pData)
        return;
    const QWriteLocker locker(&m_pData->lock);
    const auto previous = m_pData->values.constFind(key);
    if (previous != m_pData->values.constEnd())
        m_pData->valueBytes -= sizeOf(key, previous.value());
    m_pData->valueBytes += sizeOf(key, value);
    m_pData->values.insert(key, value);
}

HttpSession::Outcome HttpSession::setWithin(const QList<QPair<QByteArray, QVariant>> &entries,
                                            const SessionLimits &limits)
{
    if (!m_pData)
        return Outcome::NoSession;
    const QWriteLocker locker(&m_pData->lock);
    // The last entry of a key is the one that stays, as if they were stored one by one.
    QHash<QByteArray, qint64> incoming;
    for (const auto &[key, value] : entries)
        incoming.insert(key, sizeOf(key, value));
    qint64 count = m_pData->values.size();
    qint64 bytes = m_pData->valueBytes;
    for (auto it = incoming.cbegin(); it != incoming.cend(); ++it) {
        const auto previous = m_pData->values.constFind(it.key());
        if (previous == m_pData->values.constEnd())
            ++count;
        else
            bytes -= sizeOf(it.key(), previous.value());
        bytes += it.value();
    }
    if (count > limits.maxValues)
        return Outcome::TooManyValues;
    if (bytes > limits.maxValueBytes)
        return Outcome::TooManyBytes;
    for (const auto &[key, value] : entries)
        m_pData->values.insert(key, value);
    m_pData->valueBytes = bytes;
    return Outcome::Stored;
}

qint64 HttpSession::sizeOf(const QByteArray &key, const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return key.size() + value.toByteArray().size();
    if (value.typeId() == QMetaType::QString)
        return key.size() + value.toString().toUtf8().size();
    // Wrapped in an array, so a bare number or a nested object serialises alike.
    const QByteArray json =
        QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    return key.size() + json.size() - 2;
}

QVariant HttpSession::get(const QByteArray &key) const
{
    if (!m_pData)
        return QVariant();
    const QReadLocker locker(&m_pData->lock);
    return m_pData->values.value(key);
}

bool HttpSession::contains(const QByteArray &key) const
{
    if (!m_pData)
        return false;
    const QReadLocker locker(&m_pData->lock);
    return m_pData->values.contains(key);
}

QMap<QByteArray, QVariant> HttpSession::getAll() const
{
    if (!m_pData)
        return {};
    const QReadLocker locker(&m_pData->lock);
    return m_pData->values;
}

qint64 HttpSession::getLastAccess() const
{
    if (!m_pData)
        return 0;
    const QReadLocker locker(&m_pData->lock);
    return m_pData->lastAccess;
}

void HttpSession::setLastAccess()
{
    setLastAccess(QDateTime::currentMSecsSinceEpoch());
}

void HttpSession::setLastAccess(qint64 msecsSinceEpoch)
{
    if (!m_pData)
        return;
    const QWriteLocker locker(&m_pData->lock);
    m_pData->lastAccess = msecsSinceEpoch;
}
