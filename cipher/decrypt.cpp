#include "cipher.h"
#include "keyformat.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

namespace morvalen {

std::string decrypthexbytes(std::string& hexadesimals, std::string_view bitspassword)
{
    return translateAllocationFailure([&] {
        std::string plain = readHexDigits(hexadesimals, ErrorInput::EncryptedHex);
        KeyReader key(plain);
        key.read(bitspassword);
        key.finish();
        if (!plain.empty()) {
            hexadesimals.clear();
        }
        return plain;
    });
}

} // namespace morvalen
