#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
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

    qint64 size() const { return m_size; }
    bool isFile() const { return m_file != nullptr; }
    const QString &path() const { return m_path; }
    const QByteArray &bytes() const { return m_bytes; }

    // At most `length` bytes from `offset`; fewer at the end.
    QByteArray read(qint64 offset, qint64 length) const;
    // Every byte in order, in bounded pieces. StoreError when the file cannot be read to its end.
    void forEachPiece(const std::function<void(QByteArrayView)> &consume) const;
    QByteArray sha256() const;

private:
    PdfInput() = default;

    QString m_path;
    std::shared_ptr<QFile> m_file;
    QByteArray m_bytes;
    qint64 m_size = 0;
};
