// Encrypted hex and its key read from one text.
#pragma once

#include "keyreader.h"
#include "textconv/boxtext.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace morvalen {

// Encrypted hex and its key in one text, as one stream carries them: the hex is everything before
// the first ',' or '|', the key the rest, with places counted on from the hex. Takes the text in
// pieces; the hex's digits go where the caller keeps them, as all of them must be at hand, in one
// span, when the key begins.
class OneStreamReader
{
public:
    bool inKey() const { return m_key.has_value(); }
    // Reads piece up to where the key begins: the digits go to out, which has room for
    // piece.size(), and their count is returned. piece is left with the start of the key, if it
    // holds it, and is empty otherwise.
    std::size_t readHex(std::string_view& piece, char* out);
    // Reads a piece of the key; digits: every digit of the hex, the same span on every call.
    void readKey(std::span<char> digits, std::string_view piece);
    // The end of the text; errors as HexReader's and KeyReader's.
    void finish(std::span<char> digits);

private:
    HexReader m_hex {ErrorInput::EncryptedHex};
    std::optional<KeyReader> m_key;
};

} // namespace morvalen
