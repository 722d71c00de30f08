#pragma once

#include "common/BaseException.h"

// Failures of the platform queries. Besides the technical message each carries a text
// that may be shown to the user.
class ProcessUtilsImplException : public BaseException
{
public:
    static QString defaultUserMessage();

    explicit ProcessUtilsImplException(const QString &message);
    ProcessUtilsImplException(const QString &message, const BaseException &cause);
    ProcessUtilsImplException(const QString &message, const QString &userMessage);
    ProcessUtilsImplException(const ProcessUtilsImplException &other);
    ProcessUtilsImplException &operator=(const ProcessUtilsImplException &other);
    ~ProcessUtilsImplException() override;

    ProcessUtilsImplException *clone() const override;
    void raise() const override;

    QString getUserMessage() const { return m_oUserMessage; }
    void setUserMessage(const QString &userMessage) { m_oUserMessage = userMessage; }

private:
    QString m_oUserMessage;
};

// Gives each subclass clone() and raise() of its own type.
template <class Derived> class ProcessUtilsExceptionOf : public ProcessUtilsImplException
{
public:
    using ProcessUtilsImplException::ProcessUtilsImplException;

    ProcessUtilsImplException *clone() const override
    {
        return new Derived(static_cast<const Derived &>(*this));
    }
    void raise() const override { throw static_cast<const Derived &>(*this); }
};

class EnumProcessesException final : public ProcessUtilsExceptionOf<EnumProcessesException>
{
public:
    using ProcessUtilsExceptionOf::ProcessUtilsExceptionOf;
};

class GetExtendedTcpTableException final : public ProcessUtilsExceptionOf<GetExtendedTcpTableException>
{
public:
    using ProcessUtilsExceptionOf::ProcessUtilsExceptionOf;
};

class LookupAccountSidException final : public ProcessUtilsExceptionOf<LookupAccountSidException>
{
public:
    using ProcessUtilsExceptionOf::ProcessUtilsExceptionOf;
};

class OpenProcessException final : public ProcessUtilsExceptionOf<OpenProcessException>
{
public:
    using ProcessUtilsExceptionOf::ProcessUtilsExceptionOf;
};
