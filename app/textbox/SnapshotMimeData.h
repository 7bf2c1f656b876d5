// Text copied out of a box, handed to the clipboard without converting it: a 70 MB key is
// converted only if somebody pastes it, and a program that asks for UTF-8 (as X11's UTF8_STRING
// does) gets the bytes as they are, never by way of a UTF-16 copy.
#pragma once

#include "TextBuffer.h"

#include <QMimeData>

namespace morvalen::textbox {

class SnapshotMimeData : public QMimeData
{
public:
    // A secret text carries the hint clipboard managers read to keep it out of their history.
    SnapshotMimeData(TextSnapshot text, bool secret);

    std::size_t size() const noexcept { return m_text.size(); }
    // The text as valid UTF-8 (a byte that starts no sequence becomes U+FFFD), as a box pasting
    // it takes it over: one copy of a long key, not two.
    std::string utf8Text() const;
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QByteArray utf8() const;
    bool isAscii() const;

    TextSnapshot m_text;
    bool m_secret;
};

} // namespace morvalen::textbox
