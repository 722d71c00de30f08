#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// A file a client uploaded, kept in the server's own temporary folder under a name the
// server chose, and deleted when the last holder lets go: the request that received it,
// then the job that reads it. Holders may drop their share on any thread.
class UploadedFile
{
public:
    UploadedFile(QString path, QByteArray fieldName, QByteArray clientName);
    ~UploadedFile();
    UploadedFile(const UploadedFile &) = delete;
    UploadedFile &operator=(const UploadedFile &) = delete;

    const QString &path() const { return m_oPath; }
    const QByteArray &fieldName() const { return m_oFieldName; }
    // As the client sent it: for display only, never a path.
    const QByteArray &clientName() const { return m_oClientName; }

private:
    const QString m_oPath;
    const QByteArray m_oFieldName;
    const QByteArray m_oClientName;
};

using UploadedFiles = std::vector<std::shared_ptr<const UploadedFile>>;
