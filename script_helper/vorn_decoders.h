// Decoders of the texts the host passes: parent commands and command replies.
//
// Each copies the text into one heap buffer of its own (none for a null or empty text), cuts
// the copy by overwriting separators with NULs and points at the pieces. A piece that is not in
// the copy points at vorn_empty_text. Pieces live as long as the decoder.
#pragma once

#include <cstdint>

extern const char vorn_empty_text[1];

// name.part.part=value
class ParsedCommand {
public:
    static constexpr int maxParts = 32;

    explicit ParsedCommand(const char* text);
    ~ParsedCommand();
    ParsedCommand(const ParsedCommand&) = delete;
    ParsedCommand& operator=(const ParsedCommand&) = delete;

    const char* name;
    const char* parts[maxParts];
    // Text after the first "=", when fewer than 32 dots stand before it.
    const char* value;
    std::int32_t partCount;
    bool hasValue;
    char* buffer;
};

// Space-separated tokens; the quote character groups words into one token.
class decodeVORNString {
public:
    static constexpr int maxTokens = 32;

    decodeVORNString(const char* text, char quote);
    virtual ~decodeVORNString();
    decodeVORNString(const decodeVORNString&) = delete;
    decodeVORNString& operator=(const decodeVORNString&) = delete;

    const char* tokens[maxTokens];
    std::int32_t count;
    char* buffer;
    char quote;
};
