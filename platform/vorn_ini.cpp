#include "vorn_ini.h"

#include <fstream>
#include <sstream>

namespace {

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

bool vorn_ini::load(const std::string& path) {
    entries_.clear();
    lines_.clear();
    problems_.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    parse(text.str());
    return true;
}

void vorn_ini::parse(const std::string& text) {
    std::istringstream in(text);
    std::string raw;
    std::string section;
    bool inSection = false;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                problems_.push_back({number, "expected a section header such as [instances.A]"});
                inSection = false;
                continue;
            }
            section = trim(line.substr(1, line.size() - 2));
            entries_[section];
            lines_.emplace(section, number);
            inSection = true;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            problems_.push_back({number, "expected 'name = text'"});
            continue;
        }
        if (!inSection) {
            problems_.push_back({number, "attribute outside any [section]"});
            continue;
        }
        std::string name = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
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
