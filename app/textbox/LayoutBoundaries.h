// Cluster and word boundaries as Qt's text layout finds them, looked for in a neighbourhood of the
// position rather than the whole text. ASCII, where every character is a cluster of its own, needs
// no layout. A multi-line box ends words at a paragraph's end and steps over a line break alone.
#pragma once

#include "EditModel.h"

namespace morvalen::textbox {

class LayoutBoundaries : public Boundaries
{
public:
    void setMultiLine(bool multiLine) noexcept { m_multiLine = multiLine; }
    std::size_t step(const TextBuffer& text, std::size_t pos, Direction direction, Unit unit) override;

private:
    bool m_multiLine = false;
};

} // namespace morvalen::textbox
