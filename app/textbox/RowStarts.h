// Where each row starts, in two bytes a row: a 70 MB key wraps into millions of rows, and eight
// bytes each (plus a vector doubling as it grows) came to a quarter of the key again. Starts are
// kept in chunks of up to kChunkRows, each as 16-bit offsets from the chunk's first start; a row
// that ends more than 64 KiB past its chunk's first start begins a chunk of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvalen::textbox {

class RowStarts
{
public:
    static constexpr std::size_t kChunkRows = 1024;

    RowStarts() { reset(); }

    // Only the first row, starting at 0.
    void reset();
    std::size_t size() const noexcept { return m_rows; }
    std::size_t operator[](std::size_t row) const noexcept;
    std::size_t back() const noexcept;
    // pos must be past back().
    void push_back(std::size_t pos);
    // Index of the last row that starts at or before pos.
    std::size_t holderOf(std::size_t pos) const noexcept;
    // Keeps the first count rows (at least one).
    void truncate(std::size_t count);

private:
    struct Chunk
    {
        std::size_t base = 0;
        std::size_t firstRow = 0;
        std::vector<std::uint16_t> offsets;
    };

    const Chunk& chunkOfRow(std::size_t row) const noexcept;

    std::vector<Chunk> m_chunks;
    std::size_t m_rows = 0;
};

} // namespace morvalen::textbox
