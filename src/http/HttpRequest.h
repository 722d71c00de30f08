#pragma once

#include "common/UploadedFile.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QMultiMap>
#include <map>
#include <memory>

class MultipartParser;
class QAbstractSocket;
class QIODevice;

// One HTTP/1.x request read from a connection: request line, headers, body, parameters,
// cookies and multipart uploads (kept on disk, never in memory). Never writes to the
// connection and never throws: a malformed or oversized request ends in Aborted.
// Used by the thread of the connection that created it only.
class HttpRequest
{
public:
    enum RequestStatus : qint32
    {
        WaitingForRequestLine = 0,
        WaitingForHeaders = 1,
        WaitingForBody = 2,
        Complete = 3,
        Aborted = 4,
    };

    // The limits are the listener's maxRequestSize and maxMultiPartSize settings.
    HttpRequest(qint32 maxRequestSize, qint32 maxMultiPartSize);
    ~HttpRequest();
    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;

    // Consumes what the device has for the current request and no more: bytes of a
    // pipelined next request stay in the device. The peer is recorded with the request line.
    void receive(QIODevice &device, const QHostAddress &peer = QHostAddress());
    void receive(QAbstractSocket &socket);

    RequestStatus status() const { return m_eStatus; }
    QByteArray method() const { return m_oMethod; }
    QByteArray path() const;
    QByteArray version() const { return m_oVersion; }
    QByteArray body() const { return m_oBody; }
    // The most recent value of a header, whatever the letter case of name.
    QByteArray header(const QByteArray &name) const;
    const QMultiMap<QByteArray, QByteArray> &headerMap() const { return m_oHeaders; }
    QByteArray parameter(const QByteArray &name) const;
    const QMultiMap<QByteArray, QByteArray> &parameterMap() const { return m_oParameters; }
    QByteArray cookie(const QByteArray &name) const;
    const QMap<QByteArray, QByteArray> &cookieMap() const { return m_oCookies; }
    QHostAddress peerAddress() const { return m_oPeerAddress; }
    // The upload of a multipart file field, closed; null when there is none.
    const UploadedFile *uploadedFile(const QByteArray &fieldName) const;
    // Every upload; a holder of a copy keeps its file after the request has gone.
    UploadedFiles uploadedFiles() const;

    static QByteArray percentDecode(const QByteArray &source);

private:
    bool isFinished() const { return m_eStatus == Complete || m_eStatus == Aborted; }
    void receiveStep(QIODevice &device, const QHostAddress &peer);
    bool readLine(QIODevice &device, QByteArray &line);
    void readRequestLine(QIODevice &device, const QHostAddress &peer);
    void readHeader(QIODevice &device);
    void addHeaderLine(const QByteArray &line);
    void finishHeaders();
    void readBody(QIODevice &device);
    void readMultipartBody(QIODevice &device);
    void takeMultipartResults();
    void checkSize();
    void decodeParameters();
    void extractCookies();

    QMultiMap<QByteArray, QByteArray> m_oHeaders;
    QMultiMap<QByteArray, QByteArray> m_oParameters;
    std::map<QByteArray, std::shared_ptr<const UploadedFile>> m_oUploadedFiles;
    QMap<QByteArray, QByteArray> m_oCookies;
    QByteArray m_oBody;
    QByteArray m_oMethod;
    QByteArray m_oPath;
    QByteArray m_oVersion;
    QHostAddress m_oPeerAddress;
    RequestStatus m_eStatus = WaitingForRequestLine;
    qint32 m_iMaxSize;
    qint32 m_iMaxMultiPartSize;
    qint64 m_iCurrentSize = 0; // request line, headers and plain body so far
    qint64 m_iExpectedBodySize = 0;
    QByteArray m_oCurrentHeader;
    // A further continuation line replaces the entry the previous one made, so folded
    // headers cost memory in proportion to their length, not its square.
    bool m_bCurrentHeaderContinued = false;
    QByteArray m_oBoundary;
    std::unique_ptr<MultipartParser> m_pMultipart;
    qint64 m_iMultipartReceived = 0;
    QByteArray m_oLineBuffer;
};
