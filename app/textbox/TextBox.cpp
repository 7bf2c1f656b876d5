#include "TextBox.h"

#include "TextBoxAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionFrame>
#include <QTextLayout>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>

namespace morvalen::textbox {
namespace {

// A screen reader speaks what an edit event carries; past this it gets the start of a long text
// and asks the text interface for the rest, rather than tens of megabytes over the bus.
constexpr std::size_t kAnnouncedBytes = 64 * 1024;

// Margins inside the frame: QLineEdit's for one line, QPlainTextEdit's document margin for more.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;
constexpr int kDocumentMargin = 4;
// Text handed to the layout around a position to find clusters and words, and to input methods.
constexpr std::size_t kNeighbourhood = 256;
constexpr qreal kNoWrap = 1e9;

bool isAsciiText(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// UTF-8 to UTF-16 with one U+FFFD for each byte that starts no valid sequence, so offsets in the
// two agree character by character (utf16Units, bytesForUnits).
QString decode(std::string_view bytes)
{
    if (isAsciiText(bytes)) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = utf8Length(bytes.substr(i));
        if (length == 1) {
            text.append(lead < 0x80 ? QChar(lead) : QChar(QChar::ReplacementCharacter));
        } else {
            char32_t codePoint = lead & (0x7Fu >> length);
            for (std::size_t k = 1; k < length; ++k) {
                codePoint = (codePoint << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
            }
            text.append(QString::fromUcs4(&codePoint, 1));
        }
        i += length;
    }
    return text;
}

qsizetype utf16Units(std::string_view bytes)
{
    qsizetype units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : utf8Length(bytes.substr(i));
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

// The byte offset in bytes that is `units` UTF-16 code units in; a unit inside a surrogate pair
// rounds up to the end of its character.
std::size_t bytesForUnits(std::string_view bytes, qsizetype units)
{
    std::size_t i = 0;
    for (qsizetype seen = 0; i < bytes.size() && seen < units;) {
        const std::size_t length = static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : utf8Length(bytes.substr(i));
        seen += length == 4 ? 2 : 1;
        i += length;
    }
    return i;
}

// What a row shows: control characters, which fonts draw as boxes or not at all, become spaces,
// as in Qt's line edit. One unit for one unit, so offsets stay the same.
QString displayed(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator
            || c == QChar::ObjectReplacementCharacter) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

void layoutOneLine(QTextLayout& layout)
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    layout.createLine().setLineWidth(kNoWrap);
    layout.endLayout();
}

// The hint KDE's Klipper and other clipboard managers read to keep a copied password out of
// their history, as KeePassXC sets it.
constexpr QLatin1String kPasswordHint("x-kde-passwordManagerHint");

// Hands a range of text to the clipboard without converting it: a 70 MB key is converted only if
// somebody pastes it.
class SnapshotMimeData : public QMimeData
{
public:
    SnapshotMimeData(TextSnapshot text, bool secret)
        : m_text(std::move(text))
        , m_secret(secret)
    {
    }

    QStringList formats() const override
    {
        QStringList formats {QStringLiteral("text/plain")};
        if (m_secret) {
            formats.append(kPasswordHint);
        }
        return formats;
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        if (m_secret && mimeType == kPasswordHint) {
            return QByteArray("secret");
        }
        if (mimeType != QLatin1String("text/plain")) {
            return {};
        }
        const QString text = decode(m_text.toString());
        return type.id() == QMetaType::QByteArray ? QVariant(text.toUtf8()) : QVariant(text);
    }

private:
    TextSnapshot m_text;
    bool m_secret;
};

} // namespace

// Rows of ASCII text are measured from a table of advances, one look-up per byte, so filling the
// rows of a 70 MB key takes one pass; anything else goes through a QTextLayout of the row.
class FontRowMeasure : public RowMeasure
{
public:
    void setFont(const QFont& font)
    {
        m_font = font;
        for (auto& row : m_pairs) {
            row.fill(kUnknown);
        }
    }
    void setWidth(qreal width) { m_width = std::max(64, qRound(64 * width)); }

    // Returns text.size() whenever all of it fits, which is all a cut text asks.
    std::size_t fit(std::string_view text, bool /*more*/) override
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::int64_t x = 0;
        for (std::size_t i = 0; (i = sumUntilPastEdge(bytes, text.size(), i, x)) < text.size(); ++i) {
            const unsigned c = bytes[i];
            const unsigned next = i + 1 < text.size() ? bytes[i + 1] : 0;
            // Past the edge, or a pair not measured yet, or a character past ASCII.
            if (m_pairs[c][next] == kUnknown) {
                x += (m_pairs[c][next] = measurePair(c, next)) - kUnknown;
                if (x <= m_width) {
                    continue;
                }
            }
            if (c < 0x80 && next < 0x80) {
                if (c <= 0x20) {
                    continue; // blanks at a row's end hang past its edge, as in Qt's layout
                }
                return std::max<std::size_t>(i, 1);
            }
            // A character past ASCII, or one that may combine with this one: the layout knows.
            return fitByLayout(text);
        }
        return text.size();
    }

private:
    // The advance of character a followed by b in 26.6 fixed point, as Qt's text engine adds
    // them: integer sums are exact and fast. Kerning moves a character by what follows it in the
    // shaped layout that draws Qt's rows, so the sum takes pairs; b == 0 means nothing follows.
    // Pairs are measured as they turn up: a key uses a handful. A character past ASCII overflows
    // any row at once, which sends the row to the layout.
    // Adds the pairs' advances from byte `from` on to x, and returns the byte that takes x past the
    // row's width (x includes it), or size. The hot loop of filling rows: one look-up per byte.
    std::size_t sumUntilPastEdge(const unsigned char* bytes, std::size_t size, std::size_t from, std::int64_t& x) const
    {
        std::int64_t sum = x;
        const std::int64_t width = m_width;
        std::size_t i = from;
        for (; i + 1 < size; ++i) {
            sum += m_pairs[bytes[i]][bytes[i + 1]];
            if (sum > width) {
                x = sum;
                return i;
            }
        }
        if (i < size) {
            sum += m_pairs[bytes[i]][0];
            if (sum > width) {
                x = sum;
                return i;
            }
        }
        x = sum;
        return size;
    }

    int measurePair(unsigned a, unsigned next) const
    {
        if (a >= 0x80 || next >= 0x80) {
            return kNotAscii;
        }
        const auto shown = [](unsigned c) { return QChar(c < 0x20 ? 0x20 : static_cast<char16_t>(c)); };
        const QFontMetricsF metrics(m_font);
        const qreal alone = metrics.horizontalAdvance(shown(a));
        if (next == 0) {
            return qRound(64 * alone);
        }
        const QChar both[] = {shown(a), shown(next)};
        return qRound(64 * (metrics.horizontalAdvance(QString(both, 2)) - metrics.horizontalAdvance(shown(next))));
    }

    std::size_t fitByLayout(std::string_view text) const
    {
        QTextLayout layout(displayed(decode(text)), m_font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(m_width / 64.0);
        layout.endLayout();
        return bytesForUnits(text, line.textLength());
    }

    static constexpr int kNotAscii = 1 << 26;
    static constexpr int kUnknown = 1 << 27;
    QFont m_font;
    // The advance of each byte by the byte after it.
    std::array<std::array<int, 256>, 256> m_pairs {};
    int m_width = 64;
};

struct TextBox::Row
{
    std::size_t start = 0;
    std::size_t end = 0; // without the line break
    std::unique_ptr<QTextLayout> layout;
    qsizetype preeditAt = -1; // where the preedit stands in the row's text, in units

    // Units of the row's text up to a byte offset in the row, the preedit not counted.
    qsizetype unitsAt(const TextBuffer& text, std::size_t pos) const
    {
        return utf16Units(text.copy(start, std::min(pos, end) - start));
    }
};

TextBox::TextBox(QWidget* parent)
    : QWidget(parent)
    , m_measure(std::make_unique<FontRowMeasure>())
    , m_rows(m_text, *m_measure)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_KeyCompression, false);
    setCursor(Qt::IBeamCursor);
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_measure->setFont(font());
    static const bool accessible = [] {
        QAccessible::installFactory(&accessibleTextBox);
        return true;
    }();
    (void)accessible;
}

TextBox::~TextBox() = default;

void TextBox::setMultiLine(bool multiLine)
{
    m_multiLine = multiLine;
    setSizePolicy(QSizePolicy::Expanding, multiLine ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    invalidateLayout();
}

QString TextBox::text() const
{
    return textRange(0, m_text.size());
}

void TextBox::setText(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    setUtf8(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TextBox::setUtf8(std::string text)
{
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    announceRemoval(0, m_text.snapshot(0, std::min(m_text.size(), kAnnouncedBytes)));
    m_history.clear();
    m_undone = 0;
    m_separate = false;
    m_goalX = -1;
    m_origins.assign(text.empty() ? 0 : 1, Origin {text.size(), 0});
    m_stored = text.size();
    m_preedit.clear();
    m_text.assign(std::move(text));
    m_caret = m_anchor = m_multiLine ? 0 : m_text.size();
    m_topRow = 0;
    m_scrollStart = 0;
    m_rows.reset();
    announceInsertion(0, m_text.size());
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
    update();
}

std::string_view TextBox::utf8()
{
    return m_text.contiguous();
}

QString TextBox::selectedText() const
{
    return textRange(selectionStart(), selectionEnd());
}

QString TextBox::textRange(std::size_t start, std::size_t end) const
{
    end = std::min(end, m_text.size());
    start = std::min(start, end);
    if (m_text.isAscii()) {
        const std::string_view piece = m_text.piece(start, end - start);
        if (piece.size() == end - start) {
            return QString::fromLatin1(piece.data(), static_cast<qsizetype>(piece.size()));
        }
    }
    return decode(m_text.copy(start, end - start));
}

void TextBox::setSelection(std::size_t anchor, std::size_t caret)
{
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    m_anchor = m_text.characterStart(std::min(anchor, m_text.size()));
    m_caret = m_text.characterStart(std::min(caret, m_text.size()));
    m_separate = m_separate || m_caret != oldCaret;
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
}

qsizetype TextBox::toUtf16(std::size_t pos) const
{
    pos = std::min(pos, m_text.size());
    if (m_text.isAscii()) {
        return static_cast<qsizetype>(pos);
    }
    qsizetype units = 0;
    for (std::size_t i = 0; i < pos;) {
        const std::size_t next = m_text.nextCharacter(i);
        units += next - i == 4 ? 2 : 1;
        i = next;
    }
    return units;
}

std::size_t TextBox::fromUtf16(qsizetype offset) const
{
    if (offset <= 0) {
        return 0;
    }
    if (m_text.isAscii()) {
        return std::min(static_cast<std::size_t>(offset), m_text.size());
    }
    std::size_t i = 0;
    for (qsizetype seen = 0; i < m_text.size() && seen < offset;) {
        const std::size_t next = m_text.nextCharacter(i);
        seen += next - i == 4 ? 2 : 1;
        i = next;
    }
    return i;
}

// ---- Layout

QRect TextBox::contents() const
{
    if (m_multiLine) {
        const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        const int margin = frame + kDocumentMargin;
        return rect().adjusted(margin, margin, -margin, -margin);
    }
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    const QRect inner = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
    return inner.adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

int TextBox::rowHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int TextBox::visibleRows() const
{
    return std::max(1, contents().height() / rowHeight());
}

void TextBox::invalidateLayout()
{
    m_measure->setFont(font());
    // Rows as wide as QPlainTextEdit's lines: the caret after a full row draws in the margin.
    m_measure->setWidth(contents().width());
    m_rows.reset();
    ensureCaretVisible();
    update();
}

// One-line boxes show a single row from the first character in view to past the right edge.
std::pair<std::size_t, std::size_t> TextBox::rowBounds(std::size_t row)
{
    if (m_multiLine) {
        return {m_rows.rowStart(row), m_rows.rowTextEnd(row)};
    }
    const qreal width = contents().width();
    std::size_t window = 64 + static_cast<std::size_t>(width / std::max<qreal>(1, fontMetrics().averageCharWidth()));
    for (;;) {
        const std::size_t end = m_text.characterStart(std::min(m_text.size(), m_scrollStart + window));
        if (end == m_text.size()) {
            return {m_scrollStart, end};
        }
        Row probe = layoutRow(m_scrollStart, end, false);
        if (probe.layout->lineAt(0).naturalTextWidth() > width) {
            return {m_scrollStart, end};
        }
        window *= 4;
    }
}

TextBox::Row TextBox::layoutRow(std::size_t start, std::size_t end, bool withPreedit) const
{
    Row row;
    row.start = start;
    row.end = end;
    row.layout = std::make_unique<QTextLayout>(displayed(textRange(start, end)), font());
    if (withPreedit && !m_preedit.isEmpty() && m_caret >= start && m_caret <= end) {
        row.preeditAt = row.unitsAt(m_text, m_caret);
        row.layout->setPreeditArea(static_cast<int>(row.preeditAt), m_preedit);
        QList<QTextLayout::FormatRange> formats;
        for (const QInputMethodEvent::Attribute& attribute : m_preeditFormats) {
            const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (attribute.type == QInputMethodEvent::TextFormat && format.isValid()) {
                formats.append({static_cast<int>(row.preeditAt) + attribute.start, attribute.length, format});
            }
        }
        row.layout->setFormats(formats);
    }
    layoutOneLine(*row.layout);
    return row;
}

std::size_t TextBox::caretRow()
{
    return m_multiLine ? m_rows.rowOf(m_caret) : 0;
}

// The row's top-left corner in widget coordinates, for a row in view.
static QPointF rowOrigin(
    const QRect& contents, int rowHeight, std::ptrdiff_t rowInView, bool multiLine, const QFontMetrics& metrics)
{
    if (!multiLine) {
        return QPointF(contents.left(), contents.top() + (contents.height() - metrics.height() + 1) / 2);
    }
    return QPointF(contents.left(), contents.top() + static_cast<qreal>(rowInView) * rowHeight);
}

QRect TextBox::caretRect()
{
    return characterRect(m_caret).adjusted(-1, 0, 1, 0);
}

QRect TextBox::characterRect(std::size_t pos)
{
    const std::size_t row = m_multiLine ? m_rows.rowOf(pos) : 0;
    if (row < m_topRow || (!m_multiLine && pos < m_scrollStart)) {
        return {};
    }
    const auto [start, end] = rowBounds(row);
    if (pos > end) {
        return {};
    }
    const Row laid = layoutRow(start, end, true);
    qsizetype units = laid.unitsAt(m_text, pos);
    if (laid.preeditAt >= 0 && pos == m_caret) {
        units += m_preeditCursor;
    }
    const QTextLine line = laid.layout->lineAt(0);
    const qreal x = line.cursorToX(static_cast<int>(units));
    const qreal next = pos < end
        ? line.cursorToX(static_cast<int>(units + (m_text.nextCharacter(pos) - pos == 4 ? 2 : 1)))
        : x + style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this);
    const QPointF origin
        = rowOrigin(contents(), rowHeight(), static_cast<std::ptrdiff_t>(row - m_topRow), m_multiLine, fontMetrics());
    const QRectF box(origin.x() + std::min(x, next), origin.y(), std::max<qreal>(1, std::abs(next - x)), line.height());
    return box.toAlignedRect().intersected(contents().adjusted(-1, 0, 1, 0));
}

std::size_t TextBox::positionAt(QPoint point)
{
    const QRect area = contents();
    std::size_t row = 0;
    if (m_multiLine) {
        const int offset = (point.y() - area.top()) / rowHeight() - (point.y() < area.top() ? 1 : 0);
        const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(m_topRow) + offset;
        const std::size_t known = m_rows.ensureRows(static_cast<std::size_t>(std::max<std::ptrdiff_t>(wanted, 0)) + 1);
        // As QPlainTextEdit: above the first row is the start, below the last the end.
        if (wanted < 0 || static_cast<std::size_t>(wanted) >= known) {
            return wanted < 0 ? 0 : m_text.size();
        }
        row = static_cast<std::size_t>(wanted);
    }
    return positionInRow(row, point.x() - area.left());
}

std::size_t TextBox::positionInRow(std::size_t row, qreal x)
{
    const auto [start, end] = rowBounds(row);
    const Row laid = layoutRow(start, end, false);
    const QTextLine line = laid.layout->lineAt(0);
    const std::size_t pos = start + bytesForUnits(m_text.copy(start, end - start), line.xToCursor(x));
    // As QPlainTextEdit: past the end of a wrapped row is before its last character, on this row.
    const bool wrapped = m_multiLine && end > start && end < m_text.size() && m_text.at(end) != '\n';
    return wrapped && pos == end && x >= line.naturalTextWidth() ? previousCursorPosition(end, false) : pos;
}

std::size_t TextBox::nextCursorPosition(std::size_t pos, bool words)
{
    if (pos >= m_text.size()) {
        return m_text.size();
    }
    // Most text is ASCII, where each character is a cluster of its own; CR LF is one.
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(m_text.at(i)); };
    if (!words && byteAt(pos) < 0x80 && (pos + 1 == m_text.size() || byteAt(pos + 1) < 0x80)
        && !(byteAt(pos) == '\r' && pos + 1 < m_text.size() && byteAt(pos + 1) == '\n')) {
        return pos + 1;
    }
    // As in a text document, words end at a paragraph's end, and its line break is a step alone.
    if (m_multiLine && byteAt(pos) == '\n') {
        return pos + 1;
    }
    for (std::size_t reach = kNeighbourhood;; reach *= 4) {
        const std::size_t start = m_text.characterStart(pos > reach ? pos - reach : 0);
        const std::size_t end = m_text.characterStart(std::min(m_text.size(), pos + reach));
        const std::string window = m_text.copy(start, end - start);
        QTextLayout layout(decode(window));
        const qsizetype from = utf16Units(std::string_view(window).substr(0, pos - start));
        const int to = layout.nextCursorPosition(
            static_cast<int>(from), words ? QTextLayout::SkipWords : QTextLayout::SkipCharacters);
        if (to < layout.text().size() || end == m_text.size()) {
            const std::size_t lineBreak = m_multiLine ? window.find('\n', pos - start) : std::string::npos;
            return std::min(
                start + bytesForUnits(window, to), lineBreak == std::string::npos ? end : start + lineBreak);
        }
    }
}

std::size_t TextBox::previousCursorPosition(std::size_t pos, bool words)
{
    if (pos == 0) {
        return 0;
    }
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(m_text.at(i)); };
    if (!words && byteAt(pos - 1) < 0x80 && (pos == m_text.size() || byteAt(pos) < 0x80)
        && !(byteAt(pos - 1) == '\n' && pos >= 2 && byteAt(pos - 2) == '\r')) {
        return pos - 1;
    }
    if (m_multiLine && byteAt(pos - 1) == '\n') {
        return pos - 1;
    }
    for (std::size_t reach = kNeighbourhood;; reach *= 4) {
        const std::size_t start = m_text.characterStart(pos > reach ? pos - reach : 0);
        const std::size_t end = m_text.characterStart(std::min(m_text.size(), pos + reach));
        const std::string window = m_text.copy(start, end - start);
        QTextLayout layout(decode(window));
        const qsizetype from = utf16Units(std::string_view(window).substr(0, pos - start));
        const int to = layout.previousCursorPosition(
            static_cast<int>(from), words ? QTextLayout::SkipWords : QTextLayout::SkipCharacters);
        if (to > 0 || start == 0) {
            const std::size_t lineBreak = m_multiLine ? window.rfind('\n', pos - start - 1) : std::string::npos;
            return std::max(
                start + bytesForUnits(window, to), lineBreak == std::string::npos ? start : start + lineBreak + 1);
        }
    }
}

std::pair<std::size_t, std::size_t> TextBox::rowAround(std::size_t pos)
{
    if (!m_multiLine) {
        return {0, m_text.size()};
    }
    const std::size_t row = m_rows.rowOf(pos);
    return {m_rows.rowStart(row), m_rows.rowTextEnd(row)};
}

std::pair<std::size_t, std::size_t> TextBox::wordAround(std::size_t pos)
{
    const auto space = [this](std::size_t i) { return std::isspace(static_cast<unsigned char>(m_text.at(i))) != 0; };
    if (!m_multiLine) {
        // As QLineEdit: the word before the next character, less the blanks after the position.
        const std::size_t start = previousCursorPosition(m_text.nextCharacter(std::min(pos, m_text.size())), true);
        std::size_t end = nextCursorPosition(start, true);
        while (end > pos && space(end - 1)) {
            --end;
        }
        return {start, end};
    }
    // As a text document's word under the cursor: from the start of the word to its end, a run of
    // punctuation counting as a word, within the paragraph.
    const auto separator = [this](std::size_t i) {
        return std::string_view(".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\").find(m_text.at(i)) != std::string_view::npos;
    };
    const std::size_t lineBreak = m_text.findBackward('\n', pos);
    const std::size_t paragraphStart = lineBreak == TextBuffer::npos ? 0 : lineBreak + 1;
    const std::size_t next = m_text.find('\n', pos);
    const std::size_t paragraphEnd = next == TextBuffer::npos ? m_text.size() : next;
    std::size_t start = pos;
    if (pos > paragraphStart && (pos < paragraphEnd || !(space(pos - 1) || separator(pos - 1)))) {
        start = previousCursorPosition(pos < paragraphEnd ? m_text.nextCharacter(pos) : pos, true);
    }
    std::size_t end = start;
    if (end < paragraphEnd && separator(end)) {
        while (end < paragraphEnd && separator(end)) {
            ++end;
        }
    } else {
        while (end < paragraphEnd && !space(end) && !separator(end)) {
            ++end;
        }
    }
    return {start, end};
}

// ---- Painting

void TextBox::drawRow(QPainter& painter, const Row& row, QPointF origin) const
{
    QList<QTextLayout::FormatRange> selections;
    const std::size_t from = std::max(selectionStart(), row.start);
    const std::size_t to = std::min(selectionEnd(), row.end);
    if (hasSelectedText() && from < to) {
        QTextLayout::FormatRange range;
        range.start = static_cast<int>(row.unitsAt(m_text, from));
        range.length = static_cast<int>(row.unitsAt(m_text, to) - range.start);
        range.format.setBackground(palette().brush(QPalette::Highlight));
        range.format.setForeground(palette().brush(QPalette::HighlightedText));
        if (row.preeditAt >= 0 && range.start >= row.preeditAt) {
            range.start += static_cast<int>(m_preedit.size());
        }
        selections.append(range);
    }
    painter.setPen(palette().color(QPalette::Text));
    row.layout->draw(&painter, origin, selections);
    if (hasFocus() && m_caretShown && m_caret >= row.start && m_caret <= row.end) {
        qsizetype units = row.unitsAt(m_text, m_caret);
        if (row.preeditAt >= 0) {
            units += m_preeditCursor;
        }
        row.layout->drawCursor(
            &painter, origin, static_cast<int>(units), style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    }
}

void TextBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    panel.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);

    const QRect area = contents();
    painter.setClipRect(area.adjusted(-1, 0, 1, 0).intersected(event->rect()));
    const int height = rowHeight();
    const std::size_t rows = m_multiLine ? static_cast<std::size_t>(visibleRows() + 1) : 1;
    const std::size_t known = m_multiLine ? m_rows.ensureRows(m_topRow + rows) : 1;
    for (std::size_t row = m_topRow; row < std::min(known, m_topRow + rows); ++row) {
        const QPointF origin
            = rowOrigin(area, height, static_cast<std::ptrdiff_t>(row - m_topRow), m_multiLine, fontMetrics());
        if (!QRectF(origin, QSizeF(area.width(), height)).intersects(event->rect())) {
            continue;
        }
        const auto [start, end] = rowBounds(row);
        drawRow(painter, layoutRow(start, end, true), origin);
    }
}

void TextBox::resizeEvent(QResizeEvent*)
{
    invalidateLayout();
}

void TextBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        invalidateLayout();
    } else if (event->type() == QEvent::ActivationChange) {
        restartBlink();
    }
    QWidget::changeEvent(event);
}

// ---- Scrolling

void TextBox::ensureCaretVisible()
{
    if (m_multiLine) {
        const std::size_t row = m_rows.rowOf(m_caret);
        const auto fullRows = static_cast<std::size_t>(visibleRows());
        if (row < m_topRow) {
            m_topRow = row;
        } else if (row >= m_topRow + fullRows) {
            m_topRow = row - fullRows + 1;
        }
        scrollRows(0);
        return;
    }
    const qreal width
        = std::max<qreal>(1, contents().width() - style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    // The width of [from, to), laid out as one piece.
    const auto span = [&](std::size_t from, std::size_t to) {
        return layoutRow(from, to, true).layout->lineAt(0).naturalTextWidth();
    };
    // The first cursor position from which [it, to) fits the width.
    const auto fitBackward = [&](std::size_t to) {
        for (std::size_t reach = 64 + static_cast<std::size_t>(width);; reach *= 4) {
            const std::size_t from = m_text.characterStart(to > reach ? to - reach : 0);
            const Row row = layoutRow(from, to, true);
            const QTextLine line = row.layout->lineAt(0);
            const qreal excess = line.naturalTextWidth() - width;
            if (excess <= 0 && from > 0) {
                continue;
            }
            if (excess <= 0) {
                return from;
            }
            int units = line.xToCursor(excess, QTextLine::CursorBetweenCharacters);
            while (units < row.layout->text().size() && line.cursorToX(units) < excess) {
                units = row.layout->nextCursorPosition(units);
            }
            return from + bytesForUnits(m_text.copy(from, to - from), units);
        }
    };
    if (m_caret < m_scrollStart) {
        m_scrollStart = m_caret;
    } else if (m_caret - m_scrollStart > static_cast<std::size_t>(width) * 4 || span(m_scrollStart, m_caret) > width) {
        m_scrollStart = fitBackward(m_caret);
    } else if (m_scrollStart > 0) {
        // Text removed at the end leaves no room unused while earlier text is scrolled away.
        const auto [start, end] = rowBounds(0);
        if (end == m_text.size() && span(start, end) < width) {
            m_scrollStart = std::min(m_scrollStart, fitBackward(end));
        }
    }
}

void TextBox::scrollRows(std::ptrdiff_t rows)
{
    if (!m_multiLine) {
        return;
    }
    const auto shown = static_cast<std::size_t>(visibleRows());
    std::ptrdiff_t top = static_cast<std::ptrdiff_t>(m_topRow) + rows;
    top = std::max<std::ptrdiff_t>(top, 0);
    const std::size_t known = m_rows.ensureRows(static_cast<std::size_t>(top) + shown);
    if (m_rows.complete()) {
        top = std::min<std::ptrdiff_t>(top, static_cast<std::ptrdiff_t>(known > shown ? known - shown : 0));
    }
    if (static_cast<std::size_t>(top) != m_topRow) {
        m_topRow = static_cast<std::size_t>(top);
        update();
    }
}

void TextBox::wheelEvent(QWheelEvent* event)
{
    if (!m_multiLine) {
        event->ignore();
        return;
    }
    // Fine-grained wheels send fractions of a notch; they add up to rows.
    m_wheelDelta += event->angleDelta().y() * QApplication::wheelScrollLines();
    const int rows = m_wheelDelta / 120;
    m_wheelDelta -= rows * 120;
    if (event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    scrollRows(-rows);
    event->accept();
}

// ---- Editing

// Replaces [pos, pos + removeLength) with inserted and returns what was removed.
TextSnapshot TextBox::applyEdit(std::size_t pos, std::size_t removeLength, std::string inserted)
{
    TextSnapshot removed = m_text.erase(pos, removeLength);
    announceRemoval(pos, removed);
    const std::size_t length = inserted.size();
    if (m_text.empty()) {
        m_text.insert(pos, std::move(inserted));
    } else {
        m_text.insert(pos, std::string_view(inserted));
    }
    announceInsertion(pos, length);
    textChanged(pos);
    return removed;
}

void TextBox::announceRemoval(std::size_t pos, const TextSnapshot& removed)
{
    if (QAccessible::isActive() && removed.size() > 0) {
        std::string text = removed.toString();
        text.resize(std::min(text.size(), kAnnouncedBytes));
        QAccessibleTextRemoveEvent event(this, static_cast<int>(toUtf16(pos)), decode(text));
        QAccessible::updateAccessibility(&event);
    }
}

void TextBox::announceInsertion(std::size_t pos, std::size_t length)
{
    if (QAccessible::isActive() && length > 0) {
        const std::size_t shown = m_text.characterStart(pos + std::min(length, kAnnouncedBytes));
        QAccessibleTextInsertEvent event(this, static_cast<int>(toUtf16(pos)), textRange(pos, shown));
        QAccessible::updateAccessibility(&event);
    }
}

// Undo steps as Qt's boxes group their edits. A line edit joins edits that no caret move, paste
// or removed selection separates, unless typing meets Backspace or Delete; a text document joins
// typing that goes on where it stopped and removals that go on where they stopped, and keeps each
// edit that involves a selection or a line break a step of its own.
void TextBox::replace(std::size_t pos, std::size_t length, std::string inserted, EditKind kind)
{
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    Edit edit;
    edit.pos = pos;
    edit.caretBefore = edit.separatorCaret = m_caret;
    edit.anchorBefore = edit.separatorAnchor = m_anchor;
    edit.kind = kind;
    // A line edit records its separator once the caret moved onto the character it takes, or a
    // unit past where it inserts: redo rounds that up to the end of the character found there.
    if (kind == EditKind::Backspace) {
        edit.separatorCaret = edit.separatorAnchor = pos;
    } else if (length == 0 && !inserted.empty()) {
        edit.separatorCaret = edit.separatorAnchor = pos + 1;
    }
    edit.separated = m_separate || (length > 0 && kind != EditKind::Backspace && kind != EditKind::Delete);
    if (m_undone > 0 && m_history[m_history.size() - m_undone].separated) {
        // Undo leaves a line edit's separator in place, with the selection it recorded, and
        // the next edit takes that one instead of its own.
        const Edit& undone = m_history[m_history.size() - m_undone];
        edit.separated = true;
        edit.separatorCaret = undone.separatorCaret;
        edit.separatorAnchor = undone.separatorAnchor;
    }
    m_history.resize(m_history.size() - m_undone);
    m_undone = 0;
    m_separate = false;
    Edit* last = m_history.empty() ? nullptr : &m_history.back();
    edit.separated = edit.separated && last != nullptr;
    // A line edit's commands: 1 insert, 2 backspace, 3 delete, 4 a selection's.
    const auto step = [](EditKind k, bool selection) {
        return k == EditKind::Backspace ? 2 : k == EditKind::Delete ? 3 : selection ? 4 : 1;
    };
    bool lineBreak = m_multiLine && inserted.find('\n') != std::string::npos;
    for (std::size_t at = pos; m_multiLine && !lineBreak && at < pos + length;) {
        const std::string_view piece = m_text.piece(at, pos + length - at);
        lineBreak = piece.find('\n') != std::string_view::npos;
        at += piece.size();
    }
    edit.removedOrigins = takeOrigins(pos, length);
    edit.storedAt = m_stored;
    if ((kind == EditKind::Backspace || kind == EditKind::Delete) && !lineBreak && edit.removedOrigins.size() == 1) {
        edit.storedAt = edit.removedOrigins.front().from;
        edit.storedLength = length;
    }
    if (last != nullptr && m_multiLine && kind == EditKind::Typing && length == 0 && !lineBreak) {
        // Typing joins typing that stopped where it goes on and was the last text stored.
        edit.joined = !last->inserted.empty() && last->inserted.back() != '\n'
            && last->pos + last->inserted.size() == pos && last->storedAt + last->inserted.size() == m_stored;
    } else if (last != nullptr && m_multiLine && edit.storedLength > 0 && last->storedLength > 0) {
        // A removal joins one that ends where it begins (Backspace) or begins where it begins
        // (Delete), if the two were stored side by side.
        const bool before = pos + length == last->pos && edit.storedAt + length == last->storedAt;
        const bool after = pos == last->pos && last->storedAt + last->storedLength == edit.storedAt;
        edit.joined = before || after;
        edit.storedAt = before ? edit.storedAt : after ? last->storedAt : edit.storedAt;
        edit.storedLength += edit.joined ? last->storedLength : 0;
    } else if (last != nullptr && !m_multiLine) {
        const int below = step(last->kind, last->inserted.empty());
        const int above = step(kind, length > 0 || inserted.empty());
        edit.joined = !edit.separated && !(below != above && below < 4 && above < 4);
    }
    const std::size_t insertedLength = inserted.size();
    if (insertedLength > 0) {
        putOrigins(pos, {{insertedLength, m_stored}});
        m_stored += insertedLength;
    }
    if (edit.joined && kind == EditKind::Typing && length == 0 && last->pos + last->inserted.size() == pos) {
        last->inserted += inserted;
        applyEdit(pos, 0, std::move(inserted));
    } else {
        edit.inserted = inserted;
        edit.removed = applyEdit(pos, length, std::move(inserted));
        m_history.push_back(std::move(edit));
    }
    m_caret = m_anchor = pos + insertedLength;
    m_goalX = -1;
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
    restartBlink();
    update();
}

// Takes the origins of [pos, pos + length) out of the text's.
std::vector<TextBox::Origin> TextBox::takeOrigins(std::size_t pos, std::size_t length)
{
    std::vector<Origin> taken;
    std::size_t at = 0;
    for (auto it = m_origins.begin(); it != m_origins.end() && length > 0;) {
        if (at + it->length <= pos) {
            at += it->length;
            ++it;
            continue;
        }
        const std::size_t skip = pos > at ? pos - at : 0;
        const std::size_t count = std::min(length, it->length - skip);
        taken.push_back({count, it->from + skip});
        length -= count;
        if (skip > 0 && skip + count < it->length) {
            // The range lies inside this stretch: keep what follows it as a stretch of its own.
            const Origin rest {it->length - skip - count, it->from + skip + count};
            it->length = skip;
            m_origins.insert(it + 1, rest);
            break;
        }
        if (skip > 0) {
            it->length = skip;
            at += skip;
            ++it;
        } else if (count == it->length) {
            it = m_origins.erase(it);
        } else {
            it->length -= count;
            it->from += count;
        }
    }
    return taken;
}

void TextBox::putOrigins(std::size_t pos, const std::vector<Origin>& runs)
{
    std::size_t at = 0;
    auto it = m_origins.begin();
    for (; it != m_origins.end() && at + it->length <= pos; ++it) {
        at += it->length;
    }
    if (it != m_origins.end() && at < pos) {
        const Origin head {pos - at, it->from};
        it->length -= head.length;
        it->from += head.length;
        it = m_origins.insert(it, head) + 1;
    }
    // Typing stores each character after the last: one stretch for the run.
    if (runs.size() == 1 && it != m_origins.begin() && (it - 1)->from + (it - 1)->length == runs.front().from) {
        (it - 1)->length += runs.front().length;
        return;
    }
    m_origins.insert(it, runs.begin(), runs.end());
}

void TextBox::textChanged(std::size_t pos)
{
    m_rows.edited(pos);
    m_goalX = -1; // the column comes from the new text, as Qt's text cursor takes it after undo
    if (m_scrollStart > m_text.size()) {
        m_scrollStart = m_text.characterStart(m_text.size());
    }
}

void TextBox::insert(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    replace(selectionStart(), selectionEnd() - selectionStart(),
        std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Other);
}

void TextBox::del()
{
    if (hasSelectedText()) {
        replace(selectionStart(), selectionEnd() - selectionStart(), {}, EditKind::Other);
    } else if (m_caret < m_text.size()) {
        // Delete takes a whole cluster, as in Qt's boxes; Backspace can still take an accent alone.
        replace(m_caret, nextCursorPosition(m_caret, false) - m_caret, {}, EditKind::Delete);
    }
}

void TextBox::clear()
{
    selectAll();
    del();
}

void TextBox::undo()
{
    if (!isUndoAvailable()) {
        return;
    }
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    // A text document puts the caret after the text it put back, and selects nothing.
    std::size_t editPos = TextBuffer::npos;
    std::size_t editLength = 0;
    for (bool more = true; more;) {
        ++m_undone;
        const Edit& edit = m_history[m_history.size() - m_undone];
        takeOrigins(edit.pos, edit.inserted.size());
        putOrigins(edit.pos, edit.removedOrigins);
        applyEdit(edit.pos, edit.inserted.size(), edit.removed.toString());
        if (!edit.inserted.empty()) {
            editPos = edit.pos;
            editLength = 0;
        }
        if (edit.removed.size() > 0) {
            editLength = (editPos == edit.pos ? editLength : 0) + edit.removed.size();
            editPos = edit.pos;
        }
        m_caret = edit.caretBefore;
        m_anchor = edit.anchorBefore;
        more = edit.joined;
    }
    if (m_multiLine) {
        m_caret = m_anchor = editPos + editLength;
    }
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
    update();
}

void TextBox::redo()
{
    if (!isRedoAvailable()) {
        return;
    }
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    std::size_t editPos = TextBuffer::npos;
    std::size_t editLength = 0;
    do {
        const Edit& edit = m_history[m_history.size() - m_undone];
        --m_undone;
        takeOrigins(edit.pos, edit.removed.size());
        if (!edit.inserted.empty()) {
            putOrigins(edit.pos, {{edit.inserted.size(), edit.storedAt}});
        }
        applyEdit(edit.pos, edit.removed.size(), edit.inserted);
        if (edit.removed.size() > 0) {
            editPos = edit.pos;
            editLength = 0;
        }
        if (!edit.inserted.empty()) {
            editLength = (editPos == edit.pos ? editLength : 0) + edit.inserted.size();
            editPos = edit.pos;
        }
    } while (m_undone > 0 && m_history[m_history.size() - m_undone].joined);
    m_caret = m_anchor = editPos + editLength;
    if (!m_multiLine && m_undone > 0 && m_history[m_history.size() - m_undone].separated) {
        // A line edit redoes the separator after the step too, and with it the selection it
        // recorded, which may lie further on than the text now goes.
        const auto place = [this](std::size_t pos) {
            const std::size_t start = m_text.characterStart(std::min(pos, m_text.size()));
            return start < std::min(pos, m_text.size()) ? m_text.nextCharacter(start) : start;
        };
        m_caret = place(m_history[m_history.size() - m_undone].separatorCaret);
        m_anchor = place(m_history[m_history.size() - m_undone].separatorAnchor);
    }
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
    update();
}

void TextBox::selectAll()
{
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    m_anchor = 0;
    m_caret = m_text.size();
    m_separate = m_separate || !m_text.empty();
    selectionMoved(oldCaret, oldAnchor);
    // As QPlainTextEdit, a multi-line box keeps its view: the end of a long text is not laid out.
    if (!m_multiLine) {
        ensureCaretVisible();
    }
    updateSelectionClipboard();
}

void TextBox::deselect()
{
    setSelection(m_caret, m_caret);
}

void TextBox::copy() const
{
    if (hasSelectedText()) {
        QGuiApplication::clipboard()->setMimeData(
            new SnapshotMimeData(m_text.snapshot(selectionStart(), selectionEnd() - selectionStart()), m_secret));
    }
}

void TextBox::cut()
{
    if (hasSelectedText()) {
        copy();
        del();
    }
}

void TextBox::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty() || hasSelectedText()) {
        // A paste is an undo step of its own.
        m_separate = true;
        insert(text);
        m_separate = true;
    }
}

void TextBox::updateSelectionClipboard() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelectedText() && clipboard->supportsSelection()) {
        clipboard->setMimeData(
            new SnapshotMimeData(m_text.snapshot(selectionStart(), selectionEnd() - selectionStart()), m_secret),
            QClipboard::Selection);
    }
}

// ---- Caret and selection

void TextBox::selectionMoved(std::size_t oldCaret, std::size_t oldAnchor)
{
    if (oldCaret == m_caret && oldAnchor == m_anchor) {
        return;
    }
    const bool hadSelection = oldCaret != oldAnchor;
    update();
    // Up and down keep their column until the caret or selection moves otherwise; keys that
    // move nothing, Shift pressed alone or Copy, keep it too.
    m_goalX = -1;
    if (m_caret != oldCaret) {
        emit cursorPositionChanged();
    }
    if (hadSelection || hasSelectedText()) {
        emit selectionChanged();
    }
    if (QAccessible::isActive()) {
        if (hadSelection || hasSelectedText()) {
            QAccessibleTextSelectionEvent event(
                this, static_cast<int>(toUtf16(selectionStart())), static_cast<int>(toUtf16(selectionEnd())));
            event.setCursorPosition(static_cast<int>(toUtf16(m_caret)));
            QAccessible::updateAccessibility(&event);
        } else {
            QAccessibleTextCursorEvent event(this, static_cast<int>(toUtf16(m_caret)));
            QAccessible::updateAccessibility(&event);
        }
    }
}

void TextBox::moveCaret(std::size_t pos, bool keepAnchor)
{
    const std::size_t oldCaret = m_caret;
    const std::size_t oldAnchor = m_anchor;
    m_caret = std::min(pos, m_text.size());
    if (!keepAnchor) {
        m_anchor = m_caret;
    }
    m_goalX = -1; // even where the caret cannot go further, as Qt's text cursor
    m_separate = m_separate || m_caret != oldCaret;
    selectionMoved(oldCaret, oldAnchor);
    ensureCaretVisible();
    restartBlink();
    updateMicroFocus();
}

void TextBox::moveVertically(int rows, bool keepAnchor)
{
    if (!m_multiLine) {
        return;
    }
    const std::size_t row = caretRow();
    const auto [start, end] = rowBounds(row);
    if (m_goalX < 0) {
        const Row laid = layoutRow(start, end, false);
        m_goalX = laid.layout->lineAt(0).cursorToX(static_cast<int>(laid.unitsAt(m_text, m_caret)));
    }
    const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(row) + rows;
    std::size_t target = 0;
    const bool past
        = wanted < 0 || m_rows.ensureRows(static_cast<std::size_t>(wanted) + 1) <= static_cast<std::size_t>(wanted);
    if (past && !keepAnchor && (rows == 1 || rows == -1)) {
        return; // as QPlainTextEdit: Up on the first row and Down on the last do nothing
    }
    if (wanted < 0) {
        target = 0;
    } else if (m_rows.ensureRows(static_cast<std::size_t>(wanted) + 1) <= static_cast<std::size_t>(wanted)) {
        target = m_text.size();
    } else {
        target = positionInRow(static_cast<std::size_t>(wanted), m_goalX);
    }
    // Going to the very start or end takes the column from there, as in QPlainTextEdit.
    const qreal goal = past ? -1 : m_goalX;
    moveCaret(target, keepAnchor);
    m_goalX = goal;
}

void TextBox::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && isActiveWindow() && flash >= 2) {
        m_blink.start(flash / 2, this);
    } else {
        m_blink.stop();
    }
    if (!m_blink.isActive() || hasFocus()) {
        update(caretRect());
    }
}

void TextBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_blink.timerId()) {
        // Only the caret's rectangle repaints; the rows around it stay as they are.
        m_caretShown = !m_caretShown;
        update(caretRect());
    } else if (event->timerId() == m_autoScroll.timerId()) {
        const QRect area = contents();
        if (m_multiLine) {
            scrollRows(m_lastMouse.y() < area.top() ? -1 : m_lastMouse.y() > area.bottom() ? 1 : 0);
        }
        moveCaret(positionAt(m_lastMouse), true);
    } else if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
    }
    QWidget::timerEvent(event);
}

// ---- Keyboard

bool TextBox::handleStandardKey(QKeyEvent* event)
{
    const bool select = event->modifiers() & Qt::ShiftModifier;
    const auto is = [event](QKeySequence::StandardKey key) { return event->matches(key); };
    const auto lineStart = [this] { return rowAround(m_caret).first; };
    const auto lineEnd = [this] {
        const auto [start, end] = rowAround(m_caret);
        // As QPlainTextEdit: a wrapped row ends where the next one starts, or before its last blank.
        const bool wrapped = end < m_text.size() && m_text.at(end) != '\n' && end > start;
        return wrapped && std::isspace(static_cast<unsigned char>(m_text.at(end - 1))) != 0 ? end - 1 : end;
    };
    const auto paragraphStart = [this] {
        const std::size_t lineBreak = m_text.findBackward('\n', m_caret);
        return lineBreak == TextBuffer::npos ? 0 : lineBreak + 1;
    };
    const auto paragraphEnd = [this] {
        const std::size_t lineBreak = m_text.find('\n', m_caret);
        return lineBreak == TextBuffer::npos ? m_text.size() : lineBreak;
    };
    // Arrows go the other way in right-to-left text: as in Qt's boxes, that of the first strong
    // character of the whole text in a one-line box, of the paragraph in a multi-line one. Only
    // the first characters are looked at: a key of 70 MB has no strong character at all.
    const auto rightToLeft = [&] {
        const std::size_t start = m_multiLine ? paragraphStart() : 0;
        const std::size_t end = std::min(m_text.size(), start + kNeighbourhood * 16);
        for (std::size_t i = start; i < end && m_text.at(i) != '\n'; i = m_text.nextCharacter(i)) {
            const auto c = static_cast<unsigned char>(m_text.at(i));
            if (c < 0x80) {
                if (std::isalpha(c) != 0) {
                    return false; // Latin letters are the only strong characters in ASCII
                }
                continue;
            }
            const QChar::Direction direction
                = QChar::direction(textRange(i, m_text.nextCharacter(i)).toUcs4().value(0));
            if (direction == QChar::DirL || direction == QChar::DirR || direction == QChar::DirAL) {
                return direction != QChar::DirL;
            }
        }
        return false;
    };
    const bool forward = is(QKeySequence::MoveToNextChar) || is(QKeySequence::SelectNextChar)
        || is(QKeySequence::MoveToNextWord) || is(QKeySequence::SelectNextWord);
    // Asked only by the arrows, which are the keys that need it.
    const auto ahead = [&] { return forward != rightToLeft(); };
    if (is(QKeySequence::Undo)) {
        undo();
    } else if (is(QKeySequence::Redo)) {
        redo();
    } else if (is(QKeySequence::Cut)) {
        cut();
    } else if (is(QKeySequence::Copy)) {
        copy();
    } else if (is(QKeySequence::Paste)) {
        paste();
    } else if (is(QKeySequence::SelectAll)) {
        selectAll();
    } else if (!m_multiLine && (is(QKeySequence::DeleteStartOfWord) || is(QKeySequence::DeleteEndOfWord))) {
        // As QLineEdit: the selection grows to the word boundary and all of it goes.
        const bool start = is(QKeySequence::DeleteStartOfWord);
        moveCaret(start ? previousCursorPosition(m_caret, true) : nextCursorPosition(m_caret, true), true);
        if (hasSelectedText() || !start) {
            del();
        }
    } else if (is(QKeySequence::DeleteStartOfWord) || is(QKeySequence::DeleteEndOfWord)
        || is(QKeySequence::DeleteEndOfLine)) {
        m_goalX = -1; // Qt's text cursor moves to the word's end first, even if nothing goes
        if (!hasSelectedText()) {
            m_anchor = is(QKeySequence::DeleteStartOfWord) ? previousCursorPosition(m_caret, true)
                : is(QKeySequence::DeleteEndOfWord)        ? nextCursorPosition(m_caret, true)
                : m_multiLine                              ? paragraphEnd()
                                                           : m_text.size();
        }
        // Nothing to take at either end: the character beyond stays.
        if (hasSelectedText()) {
            del();
        }
    } else if (is(QKeySequence::Delete)) {
        m_goalX = -1;
        del();
    } else if (is(QKeySequence::MoveToNextChar) || is(QKeySequence::MoveToPreviousChar)) {
        // An arrow without Shift collapses a selection to the side it points at, except in a
        // one-line box under Windows' key bindings (the only ones with Ctrl+Y for redo), where it
        // moves from the caret as QLineEdit does there.
        const bool windows = QKeySequence::keyBindings(QKeySequence::Redo).contains(Qt::CTRL | Qt::Key_Y);
        if (hasSelectedText() && (m_multiLine || !windows)) {
            moveCaret((m_multiLine ? ahead() : forward) ? selectionEnd() : selectionStart(), false);
        } else {
            moveCaret(ahead() ? nextCursorPosition(m_caret, false) : previousCursorPosition(m_caret, false), false);
        }
    } else if (is(QKeySequence::SelectNextChar) || is(QKeySequence::SelectPreviousChar)) {
        moveCaret(ahead() ? nextCursorPosition(m_caret, false) : previousCursorPosition(m_caret, false), true);
    } else if (is(QKeySequence::MoveToNextWord) || is(QKeySequence::SelectNextWord)
        || is(QKeySequence::MoveToPreviousWord) || is(QKeySequence::SelectPreviousWord)) {
        moveCaret(ahead() ? nextCursorPosition(m_caret, true) : previousCursorPosition(m_caret, true), select);
    } else if (is(QKeySequence::MoveToStartOfLine) || is(QKeySequence::SelectStartOfLine)) {
        moveCaret(lineStart(), select);
    } else if (is(QKeySequence::MoveToEndOfLine) || is(QKeySequence::SelectEndOfLine)) {
        moveCaret(lineEnd(), select);
    } else if (is(QKeySequence::MoveToStartOfBlock) || is(QKeySequence::SelectStartOfBlock)) {
        moveCaret(paragraphStart(), select);
    } else if (is(QKeySequence::MoveToEndOfBlock) || is(QKeySequence::SelectEndOfBlock)) {
        moveCaret(paragraphEnd(), select);
    } else if (is(QKeySequence::MoveToStartOfDocument) || is(QKeySequence::SelectStartOfDocument)) {
        moveCaret(0, select);
    } else if (is(QKeySequence::MoveToEndOfDocument) || is(QKeySequence::SelectEndOfDocument)) {
        moveCaret(m_text.size(), select);
    } else if (m_multiLine && (is(QKeySequence::MoveToNextLine) || is(QKeySequence::SelectNextLine))) {
        moveVertically(1, select);
    } else if (m_multiLine && (is(QKeySequence::MoveToPreviousLine) || is(QKeySequence::SelectPreviousLine))) {
        moveVertically(-1, select);
    } else if (m_multiLine && (is(QKeySequence::MoveToNextPage) || is(QKeySequence::SelectNextPage))) {
        scrollRows(visibleRows());
        moveVertically(visibleRows(), select);
    } else if (m_multiLine && (is(QKeySequence::MoveToPreviousPage) || is(QKeySequence::SelectPreviousPage))) {
        scrollRows(-visibleRows());
        moveVertically(-visibleRows(), select);
    } else {
        return false;
    }
    return true;
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    if (handleStandardKey(event)) {
        event->accept();
        if (event->modifiers() & Qt::ShiftModifier) {
            updateSelectionClipboard();
        }
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (event->key() == Qt::Key_Backspace && modifiers == Qt::NoModifier) {
        m_goalX = -1; // as in QPlainTextEdit, even at the start
        if (hasSelectedText()) {
            del();
        } else if (m_caret > 0) {
            // Backspace takes the character before the caret, as typed: one code point of a cluster.
            const std::size_t from = m_text.previousCharacter(m_caret);
            replace(from, m_caret - from, {}, EditKind::Backspace);
        }
        event->accept();
        return;
    }
    if (m_multiLine && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (modifiers == Qt::NoModifier)) {
        replace(selectionStart(), selectionEnd() - selectionStart(), "\n", EditKind::Other);
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool control = modifiers & (Qt::ControlModifier | Qt::MetaModifier);
    // The first character decides, whole: an emoji's first unit alone is no printable character.
    if (!typed.isEmpty() && QChar::isPrint(typed.toUcs4().front()) && !control) {
        const QByteArray bytes = typed.toUtf8();
        replace(selectionStart(), selectionEnd() - selectionStart(),
            std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Typing);
        event->accept();
        return;
    }
    event->ignore();
}

bool TextBox::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Editing keys belong to the box while it has the focus, not to shortcuts elsewhere.
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence::StandardKey editing[] = {QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
            QKeySequence::Redo, QKeySequence::Undo, QKeySequence::SelectAll, QKeySequence::Delete,
            QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord, QKeySequence::MoveToStartOfDocument,
            QKeySequence::MoveToEndOfDocument, QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord,
            QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord};
        const bool typing = !key->text().isEmpty() && QChar::isPrint(key->text().toUcs4().front())
            && !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        if (typing || std::any_of(std::begin(editing), std::end(editing), [key](auto k) { return key->matches(k); })) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

// ---- Mouse

void TextBox::mousePressEvent(QMouseEvent* event)
{
    m_goalX = -1;
    const std::size_t pos = positionAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        if (m_tripleClick.isActive()
            && (event->position().toPoint() - m_tripleClickAt).manhattanLength() < QApplication::startDragDistance()) {
            // A third click where the second was takes the line: all of a one-line box, the
            // paragraph and its line break in a multi-line one, which (as Qt's) takes a fourth click
            // as a first one.
            if (m_multiLine) {
                m_tripleClick.stop();
            }
            std::size_t start = 0;
            std::size_t end = m_text.size();
            if (m_multiLine) {
                // QPlainTextEdit takes the caret's paragraph, which the double-click put there.
                const std::size_t lineBreak = m_text.findBackward('\n', m_caret);
                start = lineBreak == TextBuffer::npos ? 0 : lineBreak + 1;
                const std::size_t next = m_text.find('\n', m_caret);
                end = next == TextBuffer::npos ? m_text.size() : next + 1;
            }
            if (m_multiLine) {
                setSelection(start, end);
                updateSelectionClipboard();
            } else {
                selectAll(); // which, as Ctrl+A, ends the undo step
            }
            return;
        }
        m_wordSelection = {TextBuffer::npos, TextBuffer::npos};
        m_selecting = true;
        moveCaret(pos, event->modifiers() & Qt::ShiftModifier);
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        // The X11 selection is pasted where the middle button was released, as in Qt's boxes.
        moveCaret(pos, false);
    } else {
        event->ignore();
    }
}

void TextBox::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_lastMouse = event->position().toPoint();
    const QRect area = contents();
    const bool outside = m_multiLine ? (m_lastMouse.y() < area.top() || m_lastMouse.y() > area.bottom())
                                     : (m_lastMouse.x() < area.left() || m_lastMouse.x() > area.right());
    if (outside) {
        m_autoScroll.start(50, this);
    } else {
        m_autoScroll.stop();
    }
    const std::size_t pos = positionAt(m_lastMouse);
    if (m_wordSelection.first != TextBuffer::npos) {
        // After a double-click the selection grows by whole words.
        const auto [start, end] = wordAround(pos);
        if (pos < m_wordSelection.first) {
            setSelection(m_wordSelection.second, start);
        } else {
            setSelection(m_wordSelection.first, std::max(end, m_wordSelection.second));
        }
        return;
    }
    moveCaret(pos, true);
}

void TextBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        m_autoScroll.stop();
        updateSelectionClipboard();
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        const QString text = QGuiApplication::clipboard()->text(QClipboard::Selection);
        if (!text.isEmpty()) {
            moveCaret(positionAt(event->position().toPoint()), false);
            insert(text);
        }
    }
}

// Text dropped from elsewhere goes in where it is dropped and stays selected, as in QLineEdit.
void TextBox::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasText()) {
        event->acceptProposedAction();
    }
}

void TextBox::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasText()) {
        moveCaret(positionAt(event->position().toPoint()), false);
        event->acceptProposedAction();
    }
}

void TextBox::dropEvent(QDropEvent* event)
{
    const QString text = event->mimeData()->text();
    if (text.isEmpty()) {
        return;
    }
    const std::size_t pos = positionAt(event->position().toPoint());
    moveCaret(pos, false);
    insert(text);
    setSelection(pos, m_caret);
    event->acceptProposedAction();
}

void TextBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const auto [start, end] = wordAround(positionAt(event->position().toPoint()));
    // QLineEdit moves the caret to the word's start and then to its end, which ends an undo step.
    m_separate = m_separate || start != m_caret || end != start;
    setSelection(start, end);
    m_wordSelection = {start, end};
    m_selecting = true;
    m_tripleClick.start(QGuiApplication::styleHints()->mouseDoubleClickInterval(), this);
    m_tripleClickAt = event->position().toPoint();
    updateSelectionClipboard();
}

void TextBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMenu* TextBox::createStandardContextMenu()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("qt_edit_menu"));
    // As Qt's boxes: the shortcut is shown after a tab, not registered, so it cannot fire twice.
    const auto add = [&](const QString& text, QKeySequence::StandardKey key, bool enabled, auto slot) {
        const QString shortcut = key == QKeySequence::UnknownKey
            ? QString()
            : QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
        QAction* action = menu->addAction(text + shortcut, this, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(tr("&Undo"), QKeySequence::Undo, isUndoAvailable(), &TextBox::undo);
    add(tr("&Redo"), QKeySequence::Redo, isRedoAvailable(), &TextBox::redo);
    menu->addSeparator();
    add(tr("Cu&t"), QKeySequence::Cut, hasSelectedText(), &TextBox::cut);
    add(tr("&Copy"), QKeySequence::Copy, hasSelectedText(), &TextBox::copy);
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    add(tr("&Paste"), QKeySequence::Paste, clipboard != nullptr && clipboard->hasText(), &TextBox::paste);
    add(tr("Delete"), QKeySequence::UnknownKey, hasSelectedText(), &TextBox::del);
    menu->addSeparator();
    // A one-line box has nothing more to select once all is selected; a multi-line one, as
    // QPlainTextEdit, offers it whenever there is text.
    const bool allSelected = selectionEnd() - selectionStart() == m_text.size();
    add(tr("Select All"), QKeySequence::SelectAll, !m_text.empty() && (m_multiLine || !allSelected),
        &TextBox::selectAll);
    return menu;
}

// ---- Focus and input methods

void TextBox::focusInEvent(QFocusEvent* event)
{
    // As QLineEdit: reaching a one-line box with the keyboard selects its text.
    if (!m_multiLine
        && (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
            || event->reason() == Qt::ShortcutFocusReason)) {
        setSelection(0, m_text.size());
    }
    restartBlink();
    update();
}

void TextBox::focusOutEvent(QFocusEvent* event)
{
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason && !m_multiLine
        && hasSelectedText()) {
        deselect();
    }
    m_blink.stop();
    update();
}

QSize TextBox::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    const int height = std::max(metrics.height(), 14) + 2 * kVerticalMargin;
    const int width = metrics.horizontalAdvance(QLatin1Char('x')) * 17 + 2 * kHorizontalMargin;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &panel, QSize(width, height), this);
}

QSize TextBox::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    const int height = metrics.height() + std::max(2 * kVerticalMargin, metrics.leading());
    const int width = metrics.maxWidth() + 2 * kHorizontalMargin;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &panel, QSize(width, height), this);
}

// Input methods see this neighbourhood of the caret, never the whole text.
std::pair<std::size_t, std::size_t> TextBox::neighbourhood() const
{
    return {m_text.characterStart(m_caret > kNeighbourhood ? m_caret - kNeighbourhood : 0),
        m_text.characterStart(std::min(m_text.size(), m_caret + kNeighbourhood))};
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // Not a structured binding: Clang 14 cannot capture one in a lambda.
    const std::pair<std::size_t, std::size_t> around = neighbourhood();
    const std::size_t start = around.first;
    const std::size_t end = around.second;
    const auto local = [&](std::size_t pos) {
        pos = std::clamp(pos, start, end);
        return static_cast<int>(textRange(start, pos).size());
    };
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return const_cast<TextBox*>(this)->caretRect();
    case Qt::ImAnchorRectangle: return const_cast<TextBox*>(this)->characterRect(m_anchor);
    case Qt::ImFont: return font();
    case Qt::ImCursorPosition: return local(m_caret);
    case Qt::ImAnchorPosition: return local(m_anchor);
    case Qt::ImSurroundingText: return textRange(start, end);
    case Qt::ImCurrentSelection: return textRange(std::max(selectionStart(), start), std::min(selectionEnd(), end));
    case Qt::ImTextBeforeCursor: return textRange(start, m_caret);
    case Qt::ImTextAfterCursor: return textRange(m_caret, end);
    // No absolute position: counting UTF-16 units up to the caret of a long text costs a pass.
    case Qt::ImAbsolutePosition:
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImReadOnly: return false;
    case Qt::ImHints: return static_cast<int>(inputMethodHints());
    default: return QWidget::inputMethodQuery(query);
    }
}

void TextBox::inputMethodEvent(QInputMethodEvent* event)
{
    // Positions in the event count UTF-16 units in the neighbourhood the queries showed.
    const auto position = [this](qsizetype units) {
        const auto [start, end] = neighbourhood();
        return start + bytesForUnits(m_text.copy(start, end - start), std::max<qsizetype>(0, units));
    };
    const QString commit = event->commitString();
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        std::size_t from = m_caret;
        std::size_t to = m_caret;
        if (hasSelectedText()) {
            from = selectionStart();
            to = selectionEnd();
        } else if (event->replacementStart() != 0 || event->replacementLength() > 0) {
            const qsizetype caret = inputMethodQuery(Qt::ImCursorPosition).toInt();
            from = position(caret + event->replacementStart());
            to = std::max(from, position(caret + event->replacementStart() + event->replacementLength()));
        }
        const QByteArray bytes = commit.toUtf8();
        replace(
            from, to - from, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Other);
    }
    m_preedit = event->preeditString();
    m_preeditCursor = static_cast<int>(m_preedit.size());
    m_preeditFormats.clear();
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = attribute.start;
            m_caretShown = attribute.length != 0;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            m_preeditFormats.append(attribute);
        } else if (attribute.type == QInputMethodEvent::Selection && m_preedit.isEmpty()) {
            setSelection(position(attribute.start), position(attribute.start + attribute.length));
        }
    }
    ensureCaretVisible();
    update();
    updateMicroFocus();
}

} // namespace morvalen::textbox
