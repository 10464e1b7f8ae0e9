#include "vorn_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text between first and last with the blanks around it removed.
std::string trimmed(const char* first, const char* last) {
    while (first < last && blank(*first))
        ++first;
    while (last > first && blank(last[-1]))
        --last;
    return std::string(first, last);
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

#ifdef _WIN32
const int readFlags = O_RDONLY | O_BINARY;
#else
const int readFlags = O_RDONLY;
#endif

} // namespace

bool vorn_ini::load(const std::string& path, std::size_t sizeHint) {
    entries_.clear();
    lines_.clear();
    problems_.clear();
    const int fd = ::open(path.c_str(), readFlags);
    if (fd < 0) return false;
    if (sizeHint == 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_size > 0)
            sizeHint = static_cast<std::size_t>(st.st_size);
    }
    // One read of one byte more than the file is expected to hold: a short read is the end of
    // the file; a file that grew meanwhile is read on until its end.
    std::string text(sizeHint + 1, '\0');
    std::size_t size = 0;
    bool ok = true;
    for (;;) {
        const auto n = ::read(fd, &text[size], static_cast<unsigned>(text.size() - size));
        if (n < 0) {
            ok = false;
            break;
        }
        size += static_cast<std::size_t>(n);
        if (size < text.size()) break;
        text.resize(text.size() * 2);
    }
    ::close(fd);
    if (!ok) return false;
    text.resize(size);
    parse(text);
    return true;
}

void vorn_ini::parse(const std::string& text) {
    std::string section;
    bool inSection = false;
    int number = 0;
    const char* const end = text.data() + text.size();
    for (const char* start = text.data(); start < end;) {
        const char* stop = start;
        while (stop < end && *stop != '\n')
            ++stop;
        ++number;
        if (number == 1 && stop - start >= 3 && std::string(start, 3) == "\xEF\xBB\xBF")
            start += 3; // a UTF-8 byte order mark
        const std::string line = trimmed(start, withoutComment(start, stop));
        start = stop + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                problems_.push_back({number, "expected a section header such as [instances.A]"});
                inSection = false;
                continue;
            }
            section = trimmed(line.data() + 1, line.data() + line.size() - 1);
            entries_[section];
            lines_.emplace(section, number);
            inSection = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            problems_.push_back({number, "expected 'name = text'"});
            continue;
        }
        if (!inSection) {
            problems_.push_back({number, "attribute outside any [section]"});
            continue;
        }
        const std::string name = trimmed(line.data(), line.data() + eq);
        std::string value = trimmed(line.data() + eq + 1, line.data() + line.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        entries_[section][name] = value;
        lines_[section + '\n' + name] = number;
    }
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
