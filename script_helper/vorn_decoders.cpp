#include "vorn_decoders.h"

#include "vorn_string.h"

#include <cstring>

const char vorn_empty_text[1] = {'\0'};

namespace {

// One allocation of size + 1; null for a null or empty text.
char* copyText(const char* text, std::size_t& size) {
    size = text ? std::strlen(text) : 0;
    if (size == 0) return nullptr;
    char* copy = new char[size + 1];
    vorn_copy_chars(copy, text, size + 1);
    return copy;
}

// The first "." or "=" from p on, or end. Eight characters at a time while they are there.
char* nextSeparator(char* p, char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        const std::uint64_t dots = word ^ (ones * '.'), equals = word ^ (ones * '=');
        // A zero byte in either: a separator among these eight.
        if (((dots - ones) & ~dots & highs) | ((equals - ones) & ~equals & highs)) break;
    }
    while (p < end && *p != '.' && *p != '=')
        ++p;
    return p;
}

} // namespace

ParsedCommand::ParsedCommand(const char* text)
    : name(vorn_empty_text), value(vorn_empty_text), partCount(0), hasValue(false),
      buffer(nullptr) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 32
#endif
    for (const char*& part : parts)
        part = vorn_empty_text;
    std::size_t size{}; // copyText sets it
    buffer = copyText(text, size);
    if (!buffer) return;
    // From separator to separator: "." starts a part, the first "=" the value.
    char* const end = buffer + size;
    for (char* p = buffer; partCount < maxParts;) {
        p = nextSeparator(p, end);
        if (p == end) break;
        const bool equals = *p == '=';
        *p++ = '\0';
        if (equals) {
            value = p;
            hasValue = true;
            break;
        }
        parts[partCount++] = p;
    }
    name = buffer;
}

ParsedCommand::~ParsedCommand() {
    delete[] buffer;
}

decodeVORNString::decodeVORNString(const char* text, char quoteChar)
    : count(0), buffer(nullptr), quote(quoteChar) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 32
#endif
    for (const char*& token : tokens)
        token = vorn_empty_text;
    std::size_t size{}; // copyText sets it
    buffer = copyText(text, size);
    if (!buffer) return;
    int current = 0;
    tokens[0] = buffer;
    bool inQuotes = false;
    // A token that would be the 33rd ends the scan: the 32nd ends at its own delimiter.
    for (std::size_t i = 0; i < size; ++i) {
        const char c = buffer[i];
        if (!inQuotes && c == quote) {
            buffer[i] = '\0';
            inQuotes = true;
        } else if (!inQuotes && c == ' ') {
            buffer[i] = '\0';
        } else if (inQuotes && c == quote) {
            const bool empty = i > 0 && buffer[i - 1] == '\0';
            buffer[i] = '\0';
            inQuotes = false;
            if (empty) {
                if (current + 1 >= maxTokens) break;
                tokens[++current] = buffer + i;
            }
        } else if (i > 0 && buffer[i - 1] == '\0') {
            if (current + 1 >= maxTokens) break;
            tokens[++current] = buffer + i;
        }
    }
    count = current + 1;
}

decodeVORNString::~decodeVORNString() {
    delete[] buffer;
}
