#include "host_command.h"

#include <cerrno>
#include <cstdlib>

bool parseInt32(const std::string& text, std::int32_t& value) {
    if (text.empty() || text.size() > 11) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (std::size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

namespace {

// "'a' 'b' 'c'" into a, b, c (texts are not escaped, so a text holding "' '" is ambiguous;
// such a text is split there).
bool splitTexts(const std::string& fields, std::vector<std::string>& texts) {
    if (fields.size() < 2 || fields.front() != '\'' || fields.back() != '\'') return false;
    const std::string inner = fields.substr(1, fields.size() - 2);
    const std::string separator = "' '";
    std::size_t start = 0;
    for (;;) {
        std::size_t at = inner.find(separator, start);
        if (at == std::string::npos) {
            texts.push_back(inner.substr(start));
            return true;
        }
        texts.push_back(inner.substr(start, at - start));
        start = at + separator.size();
    }
}

// Joins texts[first..last) back with the separator they were split at.
std::string rejoin(const std::vector<std::string>& texts, std::size_t first, std::size_t last) {
    std::string joined;
    for (std::size_t i = first; i < last; ++i) {
        if (i > first) joined += "' '";
        joined += texts[i];
    }
    return joined;
}

} // namespace

bool parseHostCommand(const std::string& text, HostCommand& command, std::string& why) {
    command = HostCommand();
    if (text.size() < 2 || text[0] < 'A' || text[0] > 'Z' || text[1] < 'A' || text[1] > 'Z' ||
        (text.size() > 2 && text[2] != ' ')) {
        why = "not a command word of two upper-case letters";
        return false;
    }
    command.word = text.substr(0, 2);
    const std::string fields = text.size() > 3 ? text.substr(3) : "";
    if (text.size() == 3) {
        why = "a space with no field after it";
        return false;
    }
    const std::string& w = command.word;

    if (w == "AS") {
        if (!fields.empty()) why = "AS takes no fields";
        return fields.empty();
    }
    if (w == "HN" || w == "SD" || w == "TP" || w == "PS") {
        std::vector<std::string> texts;
        if (!splitTexts(fields, texts)) {
            why = w + " expects quoted texts";
            return false;
        }
        if (w == "HN" || w == "SD") {
            command.texts.push_back(rejoin(texts, 0, texts.size()));
        } else if (w == "TP") {
            if (texts.size() < 3) {
                why = "TP expects 'setting' 'panel' 'control'";
                return false;
            }
            command.texts = {rejoin(texts, 0, texts.size() - 2), texts[texts.size() - 2],
                             texts.back()};
        } else {
            if (texts.size() < 2) {
                why = "PS expects 'panel' 'file' ['params']";
                return false;
            }
            command.texts.push_back(texts[0]);
            if (texts.size() == 2) {
                command.texts.push_back(texts[1]);
            } else {
                command.texts.push_back(rejoin(texts, 1, texts.size() - 1));
                command.texts.push_back(texts.back());
            }
        }
        return true;
    }

    // One space before each field, to the byte: no other blank, none doubled, none at the end.
    std::vector<std::string> parts;
    for (std::size_t start = 0; !fields.empty();) {
        const std::size_t space = fields.find(' ', start);
        parts.push_back(fields.substr(start, space - start));
        if (parts.back().empty()) {
            why = "fields must be separated by single spaces";
            return false;
        }
        if (space == std::string::npos) break;
        start = space + 1;
    }
    if (w == "GR" && parts.size() == 4 && parts[3] == "'ADD'") {
        command.add = true;
        parts.pop_back();
    }
    std::size_t least = 0, most = 0;
    if (w == "ET")
        least = 1, most = 2;
    else if (w == "GU")
        least = most = 1;
    else if (w == "GR" || w == "GP")
        least = most = 3;
    else if (w == "GS")
        least = most = 4;
    else {
        why = "unknown command word " + w;
        return false;
    }
    if (parts.size() < least || parts.size() > most) {
        why = w + " expects " + std::to_string(least) +
              (most != least ? " or " + std::to_string(most) : std::string()) + " numbers";
        return false;
    }
    for (const std::string& part : parts) {
        std::int32_t value = 0;
        if (!parseInt32(part, value)) {
            why = "'" + part + "' is not a 32-bit decimal number";
            return false;
        }
        command.numbers.push_back(value);
    }
    return true;
}
