// Parent-command texts: every piece lies in the copy or is the shared empty text, at most 32
// parts, and the caller's text is left as it was.
#include "vorn_decoders.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
bool inside(const char* piece, const char* buffer, std::size_t size) {
    return piece == vorn_empty_text || (buffer && piece >= buffer && piece <= buffer + size);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); // stops at a NUL when read
    const std::string before = text;
    ParsedCommand parsed(text.c_str());
    const std::size_t length = std::strlen(text.c_str());
    if (parsed.partCount < 0 || parsed.partCount > ParsedCommand::maxParts) std::abort();
    if (!inside(parsed.name, parsed.buffer, length) || !inside(parsed.value, parsed.buffer, length))
        std::abort();
    for (const char* part : parsed.parts)
        if (!inside(part, parsed.buffer, length)) std::abort();
    if ((length == 0) != (parsed.buffer == nullptr)) std::abort();
    // A recognised "=" always leaves the value pointing into the copy.
    if (parsed.hasValue == (parsed.value == vorn_empty_text)) std::abort();
    if (parsed.hasValue && !std::strchr(text.c_str(), '=')) std::abort();
    if (text != before) std::abort();
    return 0;
}
