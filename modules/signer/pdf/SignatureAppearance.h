#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSizeF>
#include <QString>

// The visible face of a signature: a frame and two lines in Helvetica, one of the standard
// fonts every reader has, so the update embeds no font. The lines name the signer by the
// certificate's common name and give the time, and read upright on a page shown turned.
class SignatureAppearance
{
public:
    // `rect` is the widget's size on the unturned page; `pageRotation` the page's /Rotate in
    // degrees, a multiple of 90 (others count as 0).
    SignatureAppearance(const QSizeF &rect, int pageRotation, const QByteArray &certificate,
                        const QDateTime &time);

    // The form XObject's dictionary entries other than /Length.
    QByteArray entries() const;
    QByteArray content() const;

private:
    int m_quarterTurns; // counterclockwise, undoing the page's clockwise turn
    QSizeF m_size;      // as the face is read, its sides swapped on a page turned sideways
    QString m_lines[2];
};
