#include "SecureObject.h"

#include <openssl/crypto.h>

class SecureObject::Block
{
public:
    explicit Block(const QByteArray &source) : m_oBytes(source.constData(), source.size()) {}
    ~Block() { wipe(m_oBytes); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;

    const QByteArray &bytes() const { return m_oBytes; }

private:
    // Never handed out except as a raw view, so it stays unshared and wipe() reaches it.
    QByteArray m_oBytes;
};

SecureObject::SecureObject() = default;

SecureObject::SecureObject(QByteArray &&bytes)
{
    if (!bytes.isEmpty())
        m_oBlock = std::make_shared<const Block>(bytes);
    wipe(bytes);
    bytes.clear();
}

SecureObject::~SecureObject() = default;
SecureObject::SecureObject(const SecureObject &other) = default;
SecureObject &SecureObject::operator=(const SecureObject &other) = default;

qsizetype SecureObject::size() const
{
    return m_oBlock ? m_oBlock->bytes().size() : 0;
}

const char *SecureObject::constData() const
{
    return m_oBlock ? m_oBlock->bytes().constData() : "";
}

QByteArray SecureObject::bytes() const &
{
    return QByteArray::fromRawData(constData(), size());
}

QByteArray SecureObject::toByteArray() const
{
    return QByteArray(constData(), size());
}

void SecureObject::wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        wipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

void SecureObject::wipe(QString &text)
{
    if (!text.isEmpty())
        wipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
}

void SecureObject::wipe(void *data, std::size_t size)
{
    if (data && size)
        OPENSSL_cleanse(data, size);
}
