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
// Lines end with LF or CR LF. Texts are bytes: any 8-bit character ("Régie 2", in UTF-8 or a
// Windows code page) is kept as it stands.
//
// A line that fits none of these forms is reported with its number and not used. So is a line
// holding a byte that no text may carry: NUL, which would cut the text short wherever it is
// passed on, and the other control characters but tab (a carriage return inside a line, an
// escape, a form feed), which no editor writes into a label, show as nothing or as garbage on a
// panel, and mean that the file is not the text it seems. A file saved as UTF-16 (Notepad's
// "Unicode") is reported as a whole.
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

    // One line that means something, as scan() makes it out. Texts point into the scanned text.
    struct Line {
        enum Kind { Section, Attribute, Problem } kind = Problem;
        int number{};
        const char* name = nullptr; // Section: the entry name; Attribute: the attribute's name
        std::size_t nameSize{};
        const char* value = nullptr; // Attribute: its text
        std::size_t valueSize{};
        std::string problem; // Problem: why the line is not used
    };
    // Reads text line by line, in one pass. An Attribute always belongs to the latest Section:
    // after a malformed section header, attributes are Problems until the next good one. The
    // scan is done with a line when visit sees it: visit may write into that line's bytes and
    // its line end.
    static void scan(const char* text, std::size_t size,
                     const std::function<void(const Line&)>& visit);

    // Reads the file. Returns false when it cannot be read; the contents are then empty.
    bool load(const std::string& path);
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
