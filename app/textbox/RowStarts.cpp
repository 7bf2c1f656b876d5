#include "RowStarts.h"

#include <algorithm>
#include <limits>

namespace morvalen::textbox {

void RowStarts::reset()
{
    m_chunks.clear();
    m_chunks.push_back(Chunk {0, 0, {0}});
    m_rows = 1;
}

const RowStarts::Chunk& RowStarts::chunkOfRow(std::size_t row) const noexcept
{
    // Chunks are full but for those a long row cut short, so the guess is usually the one.
    const std::size_t guess = std::min(row / kChunkRows, m_chunks.size() - 1);
    const Chunk& likely = m_chunks[guess];
    if (likely.firstRow <= row && row - likely.firstRow < likely.offsets.size()) {
        return likely;
    }
    const auto after = std::upper_bound(m_chunks.begin(), m_chunks.end(), row,
        [](std::size_t value, const Chunk& chunk) { return value < chunk.firstRow; });
    return *(after - 1);
}

std::size_t RowStarts::operator[](std::size_t row) const noexcept
{
    const Chunk& chunk = chunkOfRow(row);
    return chunk.base + chunk.offsets[row - chunk.firstRow];
}

std::size_t RowStarts::back() const noexcept
{
    const Chunk& last = m_chunks.back();
    return last.base + last.offsets.back();
}

void RowStarts::push_back(std::size_t pos)
{
    Chunk& last = m_chunks.back();
    const std::size_t offset = pos - last.base;
    if (last.offsets.size() < kChunkRows && offset <= std::numeric_limits<std::uint16_t>::max()) {
        last.offsets.push_back(static_cast<std::uint16_t>(offset));
    } else {
        m_chunks.push_back(Chunk {pos, m_rows, {0}});
    }
    ++m_rows;
}

std::size_t RowStarts::holderOf(std::size_t pos) const noexcept
{
    const auto after = std::upper_bound(m_chunks.begin(), m_chunks.end(), pos,
        [](std::size_t value, const Chunk& chunk) { return value < chunk.base; });
    if (after == m_chunks.begin()) {
        return 0;
    }
    const Chunk& chunk = *(after - 1);
    const std::size_t offset = pos - chunk.base;
    const auto within = std::upper_bound(chunk.offsets.begin(), chunk.offsets.end(), offset,
        [](std::size_t value, std::uint16_t start) { return value < start; });
    return chunk.firstRow + static_cast<std::size_t>(within - chunk.offsets.begin()) - 1;
}

void RowStarts::truncate(std::size_t count)
{
    count = std::clamp<std::size_t>(count, 1, m_rows);
    const auto kept = &chunkOfRow(count - 1) - m_chunks.data() + 1;
    m_chunks.erase(m_chunks.begin() + kept, m_chunks.end());
    Chunk& last = m_chunks.back();
    last.offsets.resize(count - last.firstRow);
    m_rows = count;
}

} // namespace morvalen::textbox
