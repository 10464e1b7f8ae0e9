#include "vorn_config.h"

#include "vorn_debug.h"
#include "vorn_file.h"
#include "vorn_ini.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// FNV-1a, continued from h.
std::uint32_t hashOf(const char* text, std::uint32_t h = 2166136261u) {
    for (; *text; ++text)
        h = (h ^ static_cast<unsigned char>(*text)) * 16777619u;
    return h;
}
std::uint32_t attributeHash(std::uint32_t entryHash, const char* name) {
    return hashOf(name, (entryHash ^ 0xffu) * 16777619u);
}

} // namespace

// One reading of the file: its bytes, with every entry name, attribute name and text
// NUL-terminated in place, and open-addressed hash tables over them (slot: index + 1, 0 free).
struct vorn_config::Snapshot {
    std::string path;
    vorn_file_version version;
    // Read at least two seconds after its last modification: a later edit shows in the version.
    bool settled = false;
    std::string text;
    struct Attribute {
        std::uint32_t entry, name, value; // offsets into text
    };
    std::vector<Attribute> attributes;
    std::vector<std::uint32_t> entries; // offsets of entry names
    std::vector<std::uint32_t> attributeSlots, entrySlots;
    // The first unusable lines, and how many there are in all.
    std::vector<vorn_ini::Problem> problems;
    std::size_t problemCount = 0;

    const char* at(std::uint32_t offset) const { return text.data() + offset; }

    void index();
    const char* findEntry(const char* name, std::uint32_t hash) const;
    const char* findAttribute(const char* entry, std::uint32_t entryHash, const char* name) const;
};

namespace {

// At most this many unusable lines are kept (and reported) one by one, the rest counted.
constexpr std::size_t keptProblems = 10;

// Room for count items at a load of at most three quarters.
std::vector<std::uint32_t> tableFor(std::size_t count) {
    std::size_t size = 8;
    while (size * 3 < count * 4)
        size *= 2;
    return std::vector<std::uint32_t>(size, 0);
}

// The slot that holds an item equal to what `same` looks for, or the free slot where it goes.
template <class Same>
std::uint32_t& slotOf(std::vector<std::uint32_t>& slots, std::uint32_t hash, Same same) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask)
        if (slots[i] == 0 || same(slots[i] - 1)) return slots[i];
}
template <class Same>
std::uint32_t slotOf(const std::vector<std::uint32_t>& slots, std::uint32_t hash, Same same) {
    return slotOf(const_cast<std::vector<std::uint32_t>&>(slots), hash, same);
}

} // namespace

void vorn_config::Snapshot::index() {
    // Counted first, so that every table is allocated once at its final size.
    std::size_t entryCount = 0, attributeCount = 0;
    vorn_ini::scan(text.data(), text.size(), [&](const vorn_ini::Line& line) {
        entryCount += line.kind == vorn_ini::Line::Section;
        attributeCount += line.kind == vorn_ini::Line::Attribute;
    });
    entries.reserve(entryCount);
    attributes.reserve(attributeCount);
    char* const base = &text[0];
    const auto offset = [&](const char* p) { return static_cast<std::uint32_t>(p - base); };
    std::uint32_t entry = 0;
    vorn_ini::scan(text.data(), text.size(), [&](const vorn_ini::Line& line) {
        switch (line.kind) {
        case vorn_ini::Line::Section:
            entry = offset(line.name);
            entries.push_back(entry);
            base[offset(line.name + line.nameSize)] = '\0';
            break;
        case vorn_ini::Line::Attribute:
            attributes.push_back({entry, offset(line.name), offset(line.value)});
            base[offset(line.name + line.nameSize)] = '\0';
            base[offset(line.value + line.valueSize)] = '\0';
            break;
        case vorn_ini::Line::Problem:
            if (problemCount++ < keptProblems) problems.push_back({line.number, line.problem});
            break;
        }
    });

    entrySlots = tableFor(entries.size());
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const char* name = at(entries[i]);
        std::uint32_t& slot = slotOf(entrySlots, hashOf(name), [&](std::uint32_t other) {
            return std::strcmp(at(entries[other]), name) == 0;
        });
        if (slot == 0) slot = i + 1;
    }
    attributeSlots = tableFor(attributes.size());
    // Attributes come in file order: an entry's name is hashed once for all of its own.
    std::uint32_t hashedEntry = UINT32_MAX, entryHash = 0;
    for (std::uint32_t i = 0; i < attributes.size(); ++i) {
        const Attribute& a = attributes[i];
        if (a.entry != hashedEntry) {
            hashedEntry = a.entry;
            entryHash = hashOf(at(a.entry));
        }
        const std::uint32_t hash = attributeHash(entryHash, at(a.name));
        // A later attribute of the same name in the same entry replaces the earlier one.
        slotOf(attributeSlots, hash, [&](std::uint32_t other) {
            const Attribute& b = attributes[other];
            return std::strcmp(at(b.name), at(a.name)) == 0 &&
                   std::strcmp(at(b.entry), at(a.entry)) == 0;
        }) = i + 1;
    }
}

const char* vorn_config::Snapshot::findEntry(const char* name, std::uint32_t hash) const {
    const std::uint32_t slot = slotOf(
        entrySlots, hash, [&](std::uint32_t i) { return std::strcmp(at(entries[i]), name) == 0; });
    return slot ? at(entries[slot - 1]) : nullptr;
}

const char* vorn_config::Snapshot::findAttribute(const char* entry, std::uint32_t entryHash,
                                                 const char* name) const {
    const std::uint32_t slot =
        slotOf(attributeSlots, attributeHash(entryHash, name), [&](std::uint32_t i) {
            const Attribute& a = attributes[i];
            // The entry is most often the very name found for it: no need to compare texts.
            return std::strcmp(at(a.name), name) == 0 &&
                   (at(a.entry) == entry || std::strcmp(at(a.entry), entry) == 0);
        });
    return slot ? at(attributes[slot - 1].value) : nullptr;
}

namespace {

// The configuration as last read, and the version of the file last reported on. The host
// calls the plug-in from one thread only.
std::shared_ptr<const vorn_config::Snapshot> lastRead;
std::string reportedPath;
vorn_file_version reported;

void report(const std::string& text) {
    vorn_debug_output((text + "\n").c_str());
}

std::shared_ptr<const vorn_config::Snapshot> configuration(const char* path) {
    vorn_file_version version;
    if (!vorn_file_stat(path, version)) return nullptr;
    const bool previous = lastRead && std::strcmp(lastRead->path.c_str(), path) == 0;
    if (previous && lastRead->settled && lastRead->version == version) return lastRead;

    std::string text;
    const vorn_file_read read = vorn_file_read_whole(path, vorn_config::maxFileSize, version, text);
    // What is said of a version of the file is said once.
    const bool tell = !(reportedPath == path && reported == version);
    reportedPath = path;
    reported = version;
    if (read != vorn_file_read::Read) {
        if (tell && read == vorn_file_read::TooLarge)
            report(std::string(path) + ": " + std::to_string(version.size) + " bytes, over the " +
                   std::to_string(vorn_config::maxFileSize) +
                   " a configuration file may have: not read, no label comes from it");
        if (tell && read == vorn_file_read::Changing)
            report(std::string(path) + ": changed while it was read; " +
                   (previous ? "the previous reading is kept" : "read again at the next label"));
        if (read == vorn_file_read::Changing && previous) return lastRead;
        return nullptr;
    }
    auto file = std::make_shared<vorn_config::Snapshot>();
    file->text = std::move(text);
    file->path = path;
    file->version = version;
    file->settled = version.settled();
    file->index();
    if (tell) {
        for (const vorn_ini::Problem& p : file->problems)
            report(file->path + ":" + std::to_string(p.line) + ": " + p.message);
        if (file->problemCount > file->problems.size())
            report(file->path + ": " + std::to_string(file->problemCount - file->problems.size()) +
                   " more lines not used");
    }
    lastRead = std::move(file);
    return lastRead;
}

// The file vorn.ini in the folder of the plug-in file itself (found from this code's own
// address), or empty when the folder cannot be found.
const std::string& besideThePlugin() {
    static const std::string path = [] {
        std::string file;
#ifdef _WIN32
        HMODULE module = nullptr;
        char name[MAX_PATH];
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCSTR>(&besideThePlugin), &module)) {
            const DWORD n = GetModuleFileNameA(module, name, MAX_PATH);
            if (n > 0 && n < MAX_PATH) file.assign(name, n);
        }
#else
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&besideThePlugin), &info) && info.dli_fname)
            file = info.dli_fname;
#endif
        const std::size_t slash = file.find_last_of("/\\");
        return slash == std::string::npos ? std::string() : file.substr(0, slash + 1) + "vorn.ini";
    }();
    return path;
}

} // namespace

vorn_config::vorn_config(const vorn_string& entry) {
    // VORN_CONFIG names the file when it is set; else it is vorn.ini beside the plug-in.
    const char* path = std::getenv("VORN_CONFIG");
    if (!path || !*path) path = besideThePlugin().c_str();
    if (!*path) return;
    file_ = configuration(path);
    if (!file_) return;
    const char* name = entry;
    entryHash_ = hashOf(name);
    entry_ = file_->findEntry(name, entryHash_);
}

vorn_string vorn_config::attr(const vorn_string& name) const {
    const char* value = entry_ ? file_->findAttribute(entry_, entryHash_, name) : nullptr;
    return value ? vorn_string(value) : vorn_string();
}
