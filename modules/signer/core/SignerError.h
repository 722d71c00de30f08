#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// What a page learns when a signing command fails: a stable code it can act on and a sentence
// a person can read. The command functions throw it; the server hands the JSON to the page
// through its path for a throwing command.
enum class SignerErrorCode
{
    Cancelled,
    PinIncorrect,
    PinLocked,
    TokenAbsent,
    CertificateNotFound,
    AlgorithmUnsupported,
    BadInput,
    StoreError,
};

class SignerError : public std::exception
{
public:
    SignerError(SignerErrorCode code, QString message) : m_code(code), m_message(std::move(message)) {}

    SignerErrorCode code() const { return m_code; }
    const QString &message() const { return m_message; }
    // {"code": "PIN_INCORRECT", "message": "..."}
    QByteArray toJson() const;
    const char *what() const noexcept override { return "signer error"; }

private:
    SignerErrorCode m_code;
    QString m_message;
};
