#include "UploadedFile.h"

#include <QFile>
#include <utility>

UploadedFile::UploadedFile(QString path, QByteArray fieldName, QByteArray clientName)
    : m_oPath(std::move(path)), m_oFieldName(std::move(fieldName)), m_oClientName(std::move(clientName))
{
}

UploadedFile::~UploadedFile()
{
    QFile::remove(m_oPath);
}
