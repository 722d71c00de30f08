#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSizeF>
#include <QString>

// The visible face of a signature: a frame and two lines in Helvetica, one of the standard
// fonts every reader has, so the update embeds no font. The lines name the signer by the
// certificate's common name and give the time.
class SignatureAppearance
{
public:
    SignatureAppearance(const QSizeF &size, const QByteArray &certificate, const QDateTime &time);

    // The form XObject's dictionary entries other than /Length.
    QByteArray entries() const;
    QByteArray content() const;

private:
    QSizeF m_size;
    QString m_lines[2];
};
