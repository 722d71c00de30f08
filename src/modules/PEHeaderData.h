#pragma once

#include <QBuffer>
#include <QSharedPointer>

// The two values of a PE file's headers that bound the signed bytes: where the headers end
// and where an Authenticode certificate table begins. Anything that is not a PE file (an
// ELF shared object on Linux) leaves both at 0, so the whole file is signed.
class PEHeaderData
{
public:
    explicit PEHeaderData(QSharedPointer<QBuffer> buffer);

    void loadData();

    quint32 headerSize() const { return m_iHeaderSize; }
    qint64 certificateTablePosition() const { return m_iCertificateTablePosition; }

private:
    bool readHeaderFields(const QByteArray &bytes);

    QSharedPointer<QBuffer> m_poBuffer;
    quint32 m_iHeaderSize = 0;
    qint64 m_iCertificateTablePosition = 0;
};
