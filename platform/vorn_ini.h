// Reader of the platform's plain-text configuration file (INI form).
//
//   # comment            ; comment   (also after a blank, to the end of the line, outside
//                                     double quotes: "idtext = A  # the studio" is "A")
//   [instances.A]        section: the entry name, exactly as written between the brackets
//   idtext = Studio A    attribute: name and text, each with surrounding blanks removed
//   note = "  x  "       a text in double quotes keeps its inner blanks; the quotes are dropped
//
// A UTF-8 byte order mark at the start is passed over. Names are case-sensitive. A later attribute
// of the same name in the same entry replaces the earlier one; an entry written twice is one entry.
// Lines that fit none of these forms are reported by load() with their line number and otherwise
// skipped.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

class vorn_ini {
public:
    struct Problem {
        int line;
        std::string message;
    };
    // Looked up by std::string or by a plain text, without making a string of it.
    using Entry = std::map<std::string, std::string, std::less<>>;

    // Reads the file, in one read when sizeHint (its size, if the caller knows it) is right.
    // Returns false when it cannot be read; the contents are then empty.
    bool load(const std::string& path, std::size_t sizeHint = 0);
    void parse(const std::string& text);

    const std::map<std::string, Entry, std::less<>>& entries() const { return entries_; }
    const std::vector<Problem>& problems() const { return problems_; }
    // The attribute's text, or empty when the entry or the attribute does not exist.
    std::string value(const std::string& entry, const std::string& attribute) const;
    // Where an entry's section header (or, given an attribute, the attribute's last line)
    // stands; 0 when unknown.
    int lineOf(const std::string& entry, const std::string& attribute = std::string()) const;

private:
    std::map<std::string, Entry, std::less<>> entries_;
    std::map<std::string, int> lines_;
    std::vector<Problem> problems_;
};
