#pragma once

#include "common/UploadedFile.h"

#include <QByteArray>
#include <QByteArrayMatcher>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <map>
#include <memory>

class QIODevice;
class QTemporaryFile;

// A multipart/form-data body parsed while it arrives: form fields kept in memory, each file
// part written straight to an upload file of its own. Of the body itself it holds one block
// and, across block edges, no more than a delimiter's length, whatever the parts' sizes.
// Used by the thread of the request that owns it only.
class MultipartParser
{
public:
    using Uploads = std::map<QByteArray, std::shared_ptr<const UploadedFile>>;

    explicit MultipartParser(const QByteArray &boundary);
    ~MultipartParser();
    MultipartParser(const MultipartParser &) = delete;
    MultipartParser &operator=(const MultipartParser &) = delete;

    // Parses at most maxBytes of what the device has; returns how many it read.
    qint64 read(QIODevice &device, qint64 maxBytes);
    // The body has ended: a part still waiting for its delimiter is dropped.
    void finish();

    // Fields, and file fields with the client's file name, in the order they came.
    const QList<QPair<QByteArray, QByteArray>> &parameters() const { return m_oParameters; }
    Uploads takeUploads() { return std::move(m_oUploads); }
    // Bytes of form field values held in memory, which count against the request's limit.
    qint64 fieldBytes() const { return m_iFieldBytes; }

private:
    enum class State
    {
        PartHeaders,
        PartData,
        DelimiterLine,
        Done,
    };

    void parse();
    bool takeLine(qsizetype &pos);
    bool takeHeaderLine(qsizetype &pos);
    void endHeaderLine();
    bool takePartData(qsizetype &pos);
    bool takeDelimiterLine(qsizetype &pos);
    void takeBytes(QByteArrayView bytes);
    void endPart();
    void storeField();
    void writeUpload(QByteArrayView bytes);
    void storeUpload();
    void startPart();

    const QByteArray m_oDelimiter;
    // A delimiter counts at the start of a line only.
    const QByteArrayMatcher m_oMarker;
    State m_eState = State::PartHeaders;
    // Unparsed bytes; in part data its first byte is taken already, as the line break a
    // delimiter may follow.
    QByteArray m_oBuffer;
    QByteArray m_oLine; // a part header or delimiter line still waiting for its end
    QByteArray m_oFieldName;
    QByteArray m_oFileName;
    QByteArray m_oValue;
    std::unique_ptr<QTemporaryFile> m_pUpload;
    bool m_bUploadFailed = false;
    qint64 m_iFieldBytes = 0;
    QList<QPair<QByteArray, QByteArray>> m_oParameters;
    Uploads m_oUploads;
};
