#pragma once

#include "Sha256.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <future>
#include <memory>

class QFile;

// The document as the page handed it over: a file the upload spooled (read in pieces, never
// held whole) or bytes already in memory. Copies share the same source. Owned and used by the
// thread that signs.
class PdfInput
{
public:
    // BadInput when the file cannot be opened.
    static PdfInput fromFile(const QString &path);
    static PdfInput fromBytes(const QByteArray &bytes);
    // The same document through a file handle of its own, for another thread to read while
    // this one reads too; its digest is its own. BadInput when the file cannot be opened.
    PdfInput reopened() const;

    qint64 size() const { return m_size; }
    bool isFile() const { return m_file != nullptr; }
    const QString &path() const { return m_path; }
    const QByteArray &bytes() const { return m_bytes; }

    // At most `length` bytes from `offset`; fewer at the end.
    QByteArray read(qint64 offset, qint64 length) const;
    // Every byte in order, in bounded pieces. StoreError when the file cannot be read to its end.
    void forEachPiece(const std::function<void(QByteArrayView)> &consume) const;
    // Reads every byte for the digest on a thread of its own with its own file handle, so the
    // bytes are digested while the document is parsed and the key opened; once for all copies.
    void startDigest() const;
    // The digest state after every byte, to be finished or continued; waits for the digest,
    // starting it when nobody has. Throws what reading threw (StoreError).
    Sha256 digestOfAll() const;
    QByteArray sha256() const { return digestOfAll().result(); }

private:
    PdfInput() = default;

    QString m_path;
    std::shared_ptr<QFile> m_file;
    QByteArray m_bytes;
    qint64 m_size = 0;
    // Started once, then shared by the copies like the source; only the copies' thread starts
    // and waits for it.
    std::shared_ptr<std::shared_future<Sha256>> m_digest = std::make_shared<std::shared_future<Sha256>>();
};
