#include "cipher.h"
#include "pipeline.h"
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
    try {
        translateAllocationFailure([&] {
            StringDigits digits(plain);
            decryptPieces(WholeText(hexadesimals), WholeText(bitspassword), digits);
            digits.finish();
            if (!plain.empty()) {
                hexadesimals.clear();
            }
        });
    } catch (...) {
        plain.clear(); // partly decrypted digits are no result
        throw;
    }
}

} // namespace morvalen
