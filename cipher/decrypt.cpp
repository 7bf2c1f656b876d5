#include "cipher.h"
#include "keyformat.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

namespace morvalen {

std::string decrypthexbytes(std::string& hexadesimals, std::string_view bitspassword)
{
    return translateAllocationFailure([&] {
        std::string plain = readHexDigits(hexadesimals, kEncryptedBox);
        const std::vector<std::uint8_t> groups = readEncryptingBits(bitspassword, plain.size());
        for (std::size_t i = 0; i < plain.size(); ++i) {
            plain[i] = kHexDigits[hexValue(plain[i]) ^ groups[i]];
        }
        if (!plain.empty()) {
            hexadesimals.clear();
        }
        return plain;
    });
}

} // namespace morvalen
