#include "plugin_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::uint16_t u16(const std::vector<unsigned char>& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<std::uint16_t>(b[at] | b[at + 1] << 8) : 0;
}
std::uint32_t u32(const std::vector<unsigned char>& b, std::size_t at) {
    return at + 4 <= b.size() ? static_cast<std::uint32_t>(u16(b, at) | u16(b, at + 2) << 16) : 0;
}
#ifndef _WIN32 // only an ELF file has 64-bit fields here
std::uint64_t u64(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint64_t>(u32(b, at)) | static_cast<std::uint64_t>(u32(b, at + 4))
                                                        << 32;
}
#endif

std::string truncated(std::uint64_t size, std::uint64_t needed) {
    return "a truncated file: it has " + std::to_string(size) + " bytes, its headers describe " +
           std::to_string(needed);
}

#ifdef _WIN32
const char* const thisKind = "a 32-bit Windows DLL";
#else
const char* const thisKind = "a Linux shared object (.so)";
#endif

// A Windows DLL: its machine, and its sections within the file.
std::string whyNotPE(const std::vector<unsigned char>& b) {
    const std::uint32_t pe = u32(b, 0x3c);
    if (pe + 24 > b.size() || std::memcmp(&b[pe], "PE\0\0", 4) != 0)
        return "an MS-DOS program or a damaged DLL (no PE header)";
#ifndef _WIN32
    return std::string("a Windows DLL; this vorn-host loads ") + thisKind +
           " (run vorn-host.exe, under Wine, for a DLL)";
#else
    const std::uint16_t machine = u16(b, pe + 4), sections = u16(b, pe + 6),
                        optional = u16(b, pe + 20);
    if (machine == 0x8664) return "a 64-bit (x64) DLL; the panel client loads 32-bit DLLs";
    if (machine != 0x14c) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x", machine);
        return std::string("a DLL for another processor (machine 0x") + hex +
               "); the panel client loads 32-bit x86 DLLs";
    }
    const std::size_t table = pe + 24 + optional;
    std::uint64_t end = table + 40ull * sections;
    for (std::size_t i = 0; i < sections; ++i) {
        const std::size_t s = table + 40 * i;
        end = std::max<std::uint64_t>(end,
                                      static_cast<std::uint64_t>(u32(b, s + 20)) + u32(b, s + 16));
    }
    if (end > b.size()) return truncated(b.size(), end);
    return {};
#endif
}

// A Linux shared object: its class, its machine, and its segments within the file.
std::string whyNotELF(const std::vector<unsigned char>& b) {
#ifdef _WIN32
    (void)b;
    return "a Linux shared object (ELF); the panel client loads 32-bit Windows DLLs";
#else
    if (b.size() < 64) return truncated(b.size(), 64);
    const bool wide = b[4] == 2;
    if (wide != (sizeof(void*) == 8))
        return std::string(wide ? "a 64-bit" : "a 32-bit") + " shared object; this vorn-host is " +
               (sizeof(void*) == 8 ? "64-bit" : "32-bit");
    if (u16(b, 16) != 3) return "an ELF file that is not a shared object (not a library)";
    const std::uint64_t phoff = wide ? u64(b, 32) : u32(b, 28);
    const std::uint64_t shoff = wide ? u64(b, 40) : u32(b, 32);
    const std::uint16_t phsize = u16(b, wide ? 54 : 42), phnum = u16(b, wide ? 56 : 44);
    const std::uint16_t shsize = u16(b, wide ? 58 : 46), shnum = u16(b, wide ? 60 : 48);
    std::uint64_t end = std::max<std::uint64_t>(phoff + std::uint64_t{phsize} * phnum,
                                                shoff + std::uint64_t{shsize} * shnum);
    if (phoff + std::uint64_t{phsize} * phnum <= b.size()) {
        for (std::uint16_t i = 0; i < phnum; ++i) {
            const std::size_t p = static_cast<std::size_t>(phoff) + std::size_t{phsize} * i;
            const std::uint64_t offset = wide ? u64(b, p + 8) : u32(b, p + 4);
            const std::uint64_t filesz = wide ? u64(b, p + 32) : u32(b, p + 16);
            end = std::max(end, offset + filesz);
        }
    }
    if (end > b.size()) return truncated(b.size(), end);
    return {};
#endif
}

} // namespace

std::string whyNotAPlugin(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot be read";
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    if (b.empty()) return "an empty file";
    if (b.size() >= 2 && b[0] == 'M' && b[1] == 'Z') return whyNotPE(b);
    if (b.size() >= 4 && std::memcmp(b.data(),
                                     "\x7f"
                                     "ELF",
                                     4) == 0)
        return whyNotELF(b);
    return std::string("not a library (neither a Windows DLL nor a Linux shared object); ") +
           "expected " + thisKind;
}

std::string pluginVersion(const std::string& path) {
#ifdef _WIN32
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
        return {};
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
#else
    (void)path;
    return {};
#endif
}
