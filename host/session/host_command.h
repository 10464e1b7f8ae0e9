// Reads the text commands a script component sends to its host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HostCommand {
    std::string word;                  // two upper-case letters
    std::vector<std::int32_t> numbers; // numeric fields, in order
    std::vector<std::string> texts;    // quoted fields, in order, without their quotes
    bool add = false;                  // GR ... 'ADD'
};

// Splits a command text into its word and fields. Returns false, with the reason, for a text
// that is not a well-formed command of the known set.
bool parseHostCommand(const std::string& text, HostCommand& command, std::string& why);

// Whole decimal 32-bit number with an optional minus sign.
bool parseInt32(const std::string& text, std::int32_t& value);
