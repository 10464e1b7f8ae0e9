// The configuration reader on what a person can put in front of it: the file's contents, the
// path it is named by and the entry and attribute names asked for. Every text it gives must be
// what the plain reader (vorn_ini) makes of the same file, and carry no byte a label may not.
//
// Input: [n][n bytes: file name][n][entry][n][attribute][the file's contents]. The contents are
// written to vorn.ini in a folder of this process's own; the file name (with '/' made '_', so
// that it stays in that folder) is what VORN_CONFIG names, so most names name no file.
#include "vorn_config.h"
#include "vorn_ini.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string take(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) return {};
    std::size_t n = *data++;
    --size;
    if (n > size) n = size;
    std::string text(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return text;
}

const std::string& folder() {
    static const std::string dir = [] {
        std::string d = "/tmp/vorn_fuzz_config." + std::to_string(getpid());
        ::mkdir(d.c_str(), 0700);
        // The reader's debug texts are not this program's output.
        const int quiet = ::open("/dev/null", O_WRONLY);
        setenv("VORN_DEBUG_FD", std::to_string(quiet).c_str(), 1);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = take(data, size);
    const std::string entry = take(data, size);
    const std::string attribute = take(data, size);
    const std::string contents(reinterpret_cast<const char*>(data), size);
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string file = folder() + "/vorn.ini";
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    }
    const std::string named = folder() + "/" + name;
    setenv("VORN_CONFIG", named.c_str(), 1);

    // What is asked, as the plug-in asks it: C texts.
    const std::string entryText = entry.c_str(), attributeText = attribute.c_str();
    const vorn_config config{vorn_string(entryText.c_str())};
    const std::string got = static_cast<const char*>(config.attr(attributeText.c_str()));
    for (unsigned char c : got)
        if ((c < 0x20 && c != '\t') || c == 0x7f) std::abort();
    if (named == file) {
        vorn_ini plain;
        plain.parse(contents);
        if (got != plain.value(entryText, attributeText)) std::abort();
    } else if (!got.empty()) {
        struct stat st;
        if (::stat(named.c_str(), &st) != 0) std::abort(); // a text from no file
    }
    return 0;
}
