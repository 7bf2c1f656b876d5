// One streaming encryption and one streaming decryption over sources of input pieces, for both
// front ends: the window hands its box's text as one piece, the command line a file's pieces as
// they are read. A front end keeps only its own concerns: where pieces come from, where the
// digits are kept, and where and when the text goes.
#pragma once

#include "cipher.h"
#include "onestream.h"

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace morvalen {

// A source of pieces: each call gives the next, good until the next call; empty at the end.
template<typename Next>
concept PieceSource = requires(Next next)
{
    {
        next()
        } -> std::convertible_to<std::string_view>;
};

// Where digits are kept as they come: room(n) has room for n more, append(n) counts those
// written there, span() is every digit kept.
template<typename Store>
concept DigitStore = requires(Store store, std::size_t n)
{
    {
        store.room(n)
        } -> std::same_as<char*>;
    store.append(n);
    {
        store.span()
        } -> std::convertible_to<std::span<char>>;
};

// Reads plain hex from the pieces and encrypts the digits of each piece once the next piece is
// at hand, into digits, handing their masks to groups at most sliceDigits digits at a time and
// calling afterSlice() after each slice, where a caller may take the key's text away. Throws as
// HexReader does; text that is wrong only at its end, an odd count, has its last piece's digits
// left unencrypted, so a text given whole draws no masks at all.
template<PieceSource Next, DigitStore Digits, typename AfterSlice>
void encryptPieces(Next&& next, Digits& digits, Encryptor& encryptor, MaskGroupSink& groups, std::size_t sliceDigits,
    AfterSlice&& afterSlice)
{
    HexReader hex(ErrorInput::PlainHex);
    std::size_t pending = 0; // digits read, the last of those kept, not yet encrypted
    const auto encryptPending = [&] {
        const std::span<char> kept = digits.span();
        char* const at = kept.data() + kept.size() - pending;
        for (std::size_t done = 0; done < pending; done += sliceDigits) {
            encryptor.encrypt({at + done, std::min(sliceDigits, pending - done)}, groups);
            afterSlice();
        }
        pending = 0;
    };
    for (std::string_view piece = next(); !piece.empty(); piece = next()) {
        encryptPending();
        pending = hex.read(piece, digits.room(piece.size()));
        digits.append(pending);
    }
    hex.finish();
    encryptPending();
}

// Reads encrypted hex from hexPieces into digits, then decrypts them with the key that keyPieces
// give. Throws as HexReader and KeyReader do.
template<PieceSource NextHex, PieceSource NextKey, DigitStore Digits>
void decryptPieces(NextHex&& hexPieces, NextKey&& keyPieces, Digits& digits)
{
    HexReader hex(ErrorInput::EncryptedHex);
    for (std::string_view piece = hexPieces(); !piece.empty(); piece = hexPieces()) {
        digits.append(hex.read(piece, digits.room(piece.size())));
    }
    hex.finish();
    KeyReader key(digits.span());
    for (std::string_view piece = keyPieces(); !piece.empty(); piece = keyPieces()) {
        key.read(piece);
    }
    key.finish();
}

// The same from one text that holds the encrypted hex and then its key (see OneStreamReader).
// keyBegins() is called once, where the key begins, and noKey() where the text ends without one,
// so that a front end can tell what the text looks like before the reader judges it.
template<PieceSource Next, DigitStore Digits, std::invocable KeyBegins, std::invocable NoKey>
void decryptOneStream(Next&& next, Digits& digits, KeyBegins&& keyBegins, NoKey&& noKey)
{
    OneStreamReader reader;
    for (std::string_view piece = next(); !piece.empty(); piece = next()) {
        if (!reader.inKey()) {
            digits.append(reader.readHex(piece, digits.room(piece.size())));
            if (!piece.empty()) {
                keyBegins();
            }
        }
        if (!piece.empty()) {
            reader.readKey(digits.span(), piece);
        }
    }
    if (!reader.inKey()) {
        noKey();
    }
    reader.finish(digits.span());
}

// A text given whole, as one piece.
class WholeText
{
public:
    explicit WholeText(std::string_view text)
        : m_text(text)
    {
    }
    std::string_view operator()() { return std::exchange(m_text, {}); }

private:
    std::string_view m_text;
};

// Digits kept in a string, which keeps its memory from one use to the next.
class StringDigits
{
public:
    explicit StringDigits(std::string& out)
        : m_out(out)
    {
        m_out.clear();
    }
    char* room(std::size_t n)
    {
        m_out.resize(m_size + n);
        return m_out.data() + m_size;
    }
    void append(std::size_t n) { m_size += n; }
    std::span<char> span() { return {m_out.data(), m_size}; }
    // Cuts the string to the digits kept.
    void finish() { m_out.resize(m_size); }

private:
    std::string& m_out;
    std::size_t m_size = 0;
};

} // namespace morvalen
