#include "SnapshotMimeData.h"

#include "Utf16.h"
#include "textconv/boxtext.h"

namespace morvalen::textbox {
namespace {

const QString kPlain = QStringLiteral("text/plain");
const QString kUtf8 = QStringLiteral("text/plain;charset=utf-8");
// The hint KDE's Klipper and other clipboard managers read, as KeePassXC sets it.
const QString kPasswordHint = QStringLiteral("x-kde-passwordManagerHint");

} // namespace

SnapshotMimeData::SnapshotMimeData(TextSnapshot text, bool secret)
    : m_text(std::move(text))
    , m_secret(secret)
{
}

QStringList SnapshotMimeData::formats() const
{
    QStringList formats {kPlain, kUtf8};
    if (m_secret) {
        formats.append(kPasswordHint);
    }
    return formats;
}

bool SnapshotMimeData::hasFormat(const QString& mimeType) const
{
    return formats().contains(mimeType);
}

QVariant SnapshotMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (m_secret && mimeType == kPasswordHint) {
        return QByteArray("secret");
    }
    if (mimeType != kPlain && mimeType != kUtf8) {
        return {};
    }
    if (type.id() == QMetaType::QByteArray) {
        return utf8();
    }
    return decode(m_text.toString());
}

bool SnapshotMimeData::isAscii() const
{
    for (std::size_t i = 0; i < m_text.partCount(); ++i) {
        if (!isAsciiText(m_text.part(i))) {
            return false;
        }
    }
    return true;
}

// ASCII, as keys are, goes over part by part: no second copy of a long key while it is served.
QByteArray SnapshotMimeData::utf8() const
{
    if (!isAscii()) {
        const std::string text = utf8Text();
        return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(m_text.size()));
    for (std::size_t i = 0; i < m_text.partCount(); ++i) {
        bytes.append(m_text.part(i).data(), static_cast<qsizetype>(m_text.part(i).size()));
    }
    return bytes;
}

std::string SnapshotMimeData::utf8Text() const
{
    std::string text = m_text.toString();
    if (isAscii()) {
        return text;
    }
    std::string valid;
    valid.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = characterLength(text, i);
        if (length == 1) {
            valid.append(text, copied, i - copied);
            valid.append("\xEF\xBF\xBD");
            copied = i + 1;
        }
        i += length;
    }
    valid.append(text, copied, text.size() - copied);
    return valid;
}

} // namespace morvalen::textbox
