#include "cipher.h"
#include "keyformat.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

namespace morvalen {

std::string decrypthexbytes(std::string& hexadesimals, std::string_view bitspassword)
{
    std::string plain;
    decryptInto(plain, hexadesimals, bitspassword);
    return plain;
}

void decryptInto(std::string& plain, std::string& hexadesimals, std::string_view bitspassword)
{
    translateAllocationFailure([&] {
        plain.resize(hexadesimals.size());
        HexReader hex(ErrorInput::EncryptedHex);
        plain.resize(hex.read(hexadesimals, plain.data()));
        hex.finish();
        KeyReader key(plain);
        key.read(bitspassword);
        key.finish();
        if (!plain.empty()) {
            hexadesimals.clear();
        }
    });
}

} // namespace morvalen
