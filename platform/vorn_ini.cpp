#include "vorn_ini.h"

#include "vorn_file.h"

#include <cstdint>
#include <cstring>

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// [first, last) with the blanks around it removed.
void trim(const char*& first, const char*& last) {
    while (first < last && blank(*first))
        ++first;
    while (last > first && blank(last[-1]))
        --last;
}

// Where the line's comment starts: a "#" or ";" at the start of the line or after a blank,
// outside double quotes; the end of the line when it has none.
const char* withoutComment(const char* first, const char* last) {
    bool quoted = false;
    for (const char* p = first; p < last; ++p) {
        if (*p == '"') quoted = !quoted;
        if (!quoted && (*p == '#' || *p == ';') && (p == first || blank(p[-1]))) return p;
    }
    return last;
}

// Why the line [first, last) (its line end removed) cannot be used as text, or empty.
std::string unrepresentable(const char* first, const char* last) {
    for (const char* p = first; p < last; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != 0x7f) continue;
        if (c == '\t') continue;
        const std::string column = " at column " + std::to_string(p - first + 1);
        if (c == 0) return "a NUL byte" + column;
        if (c == '\r')
            return "a carriage return inside the line" + column + " (lines end with LF or CR LF)";
        static const char digits[] = "0123456789ABCDEF";
        return std::string("a control character (\\x") + digits[c >> 4] + digits[c & 15] + ")" +
               column;
    }
    return {};
}

} // namespace

void vorn_ini::scan(const char* text, std::size_t size,
                    const std::function<void(const Line&)>& visit) {
    Line line;
    auto problem = [&](std::string why) {
        line.kind = Line::Problem;
        line.problem = std::move(why);
        visit(line);
    };
    const char* const end = text + size;
    if (size >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        line.number = 1;
        problem("the file is saved as UTF-16; save it as UTF-8 or ANSI text");
        return;
    }
    bool inSection = false;
    for (const char* start = text; start < end;) {
        const char* stop = static_cast<const char*>(std::memchr(start, '\n', end - start));
        if (!stop) stop = end;
        const char* const next = stop + 1;
        ++line.number;
        if (stop > start && stop[-1] == '\r') --stop; // CR LF
        if (line.number == 1 && stop - start >= 3 && std::memcmp(start, "\xEF\xBB\xBF", 3) == 0)
            start += 3; // a UTF-8 byte order mark
        const char* first = start;
        const char* last = stop;
        start = next;
        std::string why = unrepresentable(first, last);
        if (!why.empty()) {
            problem(why + "; the line is not used");
            continue;
        }
        last = withoutComment(first, last);
        trim(first, last);
        if (first == last) continue;
        if (*first == '[') {
            if (last[-1] != ']' || last - first < 3) {
                problem("expected a section header such as [instances.A]");
                inSection = false;
                continue;
            }
            const char* nameFirst = first + 1;
            const char* nameLast = last - 1;
            trim(nameFirst, nameLast);
            line.kind = Line::Section;
            line.name = nameFirst;
            line.nameSize = static_cast<std::size_t>(nameLast - nameFirst);
            inSection = true;
            visit(line);
            continue;
        }
        const char* eq = static_cast<const char*>(std::memchr(first, '=', last - first));
        if (!eq || eq == first) {
            problem("expected 'name = text'");
            continue;
        }
        if (!inSection) {
            problem("attribute outside any [section]");
            continue;
        }
        const char* nameLast = eq;
        const char* valueFirst = eq + 1;
        trim(first, nameLast);
        trim(valueFirst, last);
        if (last - valueFirst >= 2 && *valueFirst == '"' && last[-1] == '"') {
            ++valueFirst;
            --last;
        }
        line.kind = Line::Attribute;
        line.name = first;
        line.nameSize = static_cast<std::size_t>(nameLast - first);
        line.value = valueFirst;
        line.valueSize = static_cast<std::size_t>(last - valueFirst);
        visit(line);
    }
}

bool vorn_ini::load(const std::string& path) {
    entries_.clear();
    lines_.clear();
    problems_.clear();
    vorn_file_version version;
    std::string text;
    if (!vorn_file_stat(path.c_str(), version) ||
        vorn_file_read_whole(path.c_str(), SIZE_MAX, version, text) != vorn_file_read::Read)
        return false;
    parse(text);
    return true;
}

void vorn_ini::parse(const std::string& text) {
    entries_.clear();
    lines_.clear();
    problems_.clear();
    std::string section;
    scan(text.data(), text.size(), [&](const Line& line) {
        switch (line.kind) {
        case Line::Section:
            section.assign(line.name, line.nameSize);
            entries_[section];
            lines_.emplace(section, line.number);
            break;
        case Line::Attribute: {
            std::string name(line.name, line.nameSize);
            lines_[section + '\n' + name] = line.number;
            entries_[section][std::move(name)].assign(line.value, line.valueSize);
            break;
        }
        case Line::Problem:
            problems_.push_back({line.number, line.problem});
            break;
        }
    });
}

std::string vorn_ini::value(const std::string& entry, const std::string& attribute) const {
    auto e = entries_.find(entry);
    if (e == entries_.end()) return {};
    auto a = e->second.find(attribute);
    return a == e->second.end() ? std::string() : a->second;
}

int vorn_ini::lineOf(const std::string& entry, const std::string& attribute) const {
    auto l = lines_.find(attribute.empty() ? entry : entry + '\n' + attribute);
    return l == lines_.end() ? 0 : l->second;
}
