#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// Secret bytes shared between holders; the last holder to let go overwrites them with
// zeros. Copies share the one block, so passing a SecureObject around never leaves extra
// copies of the secret behind in freed memory.
class SecureObject
{
public:
    SecureObject();
    // Takes the bytes over: they are copied into the shared block and the argument is
    // wiped, so the caller's buffer holds no secret afterwards.
    explicit SecureObject(QByteArray &&bytes);
    virtual ~SecureObject();
    SecureObject(const SecureObject &other);
    SecureObject &operator=(const SecureObject &other);

    qsizetype size() const;
    const char *constData() const;
    // A view, not a copy: valid only while this object (or a copy of it) is alive, hence
    // not offered on a temporary. Copying the returned array shares the view.
    QByteArray bytes() const &;
    QByteArray bytes() const && = delete;
    // A deep copy the caller owns; wipe it when done.
    QByteArray toByteArray() const;

    // Overwrites in a way the optimiser may not drop. A shared array is detached first,
    // so only this holder's copy is wiped; wipe buffers that nobody else holds.
    static void wipe(QByteArray &bytes);
    static void wipe(QString &text);
    static void wipe(void *data, std::size_t size);

private:
    class Block;
    std::shared_ptr<const Block> m_oBlock;
};
