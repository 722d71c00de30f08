#pragma once

#include "ServerClass.h"

#include <QByteArray>
#include <QException>
#include <QSharedPointer>
#include <QString>

// Root of the server's exceptions. Exported from the executable so that modules can throw
// and catch it. A cause chain reads as tab-indented lines in the stack trace.
class VYR_SERVER_CLASS BaseException : public QException
{
public:
    explicit BaseException(const QString &message);
    BaseException(const QString &message, const BaseException &cause);
    BaseException(const BaseException &other);
    BaseException &operator=(const BaseException &other);
    ~BaseException() override;

    BaseException *clone() const override;
    void raise() const override;
    const char *what() const noexcept override;

    QString getMessage() const { return m_oMessage; }
    QString getStackTrace() const { return m_oStackTrace; }
    QByteArray getWhatMessage() const { return m_oWhatMessage; }
    QSharedPointer<BaseException> getCause() const { return m_oCause; }

    void setMessage(const QString &message);
    void setStackTrace(const QString &stackTrace) { m_oStackTrace = stackTrace; }
    void setWhatMessage(const QByteArray &whatMessage) { m_oWhatMessage = whatMessage; }
    void setCause(const BaseException &cause);

protected:
    void generateStackTrace();

private:
    QString m_oMessage;
    QByteArray m_oWhatMessage;
    QString m_oStackTrace;
    QSharedPointer<BaseException> m_oCause;
};
