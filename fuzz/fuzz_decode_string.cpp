// Reply texts: at most 32 tokens, each in the copy, the rest the shared empty text.
#include "vorn_decoders.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char quote = static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    decodeVORNString decoded(text.c_str(), quote);
    const std::size_t length = std::strlen(text.c_str());
    if (decoded.count < 0 || decoded.count > decodeVORNString::maxTokens) std::abort();
    if ((length == 0) != (decoded.count == 0)) std::abort();
    for (int i = 0; i < decodeVORNString::maxTokens; ++i) {
        const char* token = decoded.tokens[i];
        if (i >= decoded.count) {
            if (token != vorn_empty_text) std::abort();
        } else if (token < decoded.buffer || token > decoded.buffer + length) {
            std::abort();
        }
        (void)std::strlen(token); // terminated inside the copy
    }
    return 0;
}
