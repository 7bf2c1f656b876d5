#include "onestream.h"

#include <algorithm>

namespace morvalen {

std::size_t OneStreamReader::readHex(std::string_view& piece, char* out)
{
    // Not find_first_of, which calls memchr on ",|" once for every byte.
    const auto split = static_cast<std::size_t>(
        std::find_if(piece.begin(), piece.end(), [](char c) { return c == ',' || c == '|'; }) - piece.begin());
    const std::size_t count = m_hex.read(piece.substr(0, split), out);
    piece.remove_prefix(split);
    if (!piece.empty()) {
        m_hex.finish();
    }
    return count;
}

void OneStreamReader::readKey(std::span<char> digits, std::string_view piece)
{
    if (!m_key) {
        m_key.emplace(digits, m_hex.place());
    }
    m_key->read(piece);
}

void OneStreamReader::finish(std::span<char> digits)
{
    if (!m_key) {
        m_hex.finish();
        m_key.emplace(digits, m_hex.place());
    }
    m_key->finish();
}

} // namespace morvalen
