#include "vorn_config.h"

#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

struct vorn_config::Snapshot {
    std::string path;
    // The file's identity and version when it was read.
    unsigned long long device, inode, size;
    long long seconds, nanoseconds;
    // Written so shortly before it was read that a later edit may carry the same time stamp
    // (file times advance in coarse steps): such a reading is never trusted again.
    bool racy;
    vorn_ini ini;

    bool describes(const char* file, const struct stat& st) const;
};

namespace {

long long nanosecondsOf(const struct stat& st) {
#if defined(_WIN32)
    (void)st;
    return 0;
#elif defined(__APPLE__)
    return st.st_mtimespec.tv_nsec;
#else
    return st.st_mtim.tv_nsec;
#endif
}

// The configuration as last read. The host calls the plug-in from one thread only.
std::shared_ptr<const vorn_config::Snapshot> lastRead;

std::shared_ptr<const vorn_config::Snapshot> configuration(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    if (lastRead && lastRead->describes(path, st)) return lastRead;
    auto file = std::make_shared<vorn_config::Snapshot>();
    file->path = path;
    file->device = static_cast<unsigned long long>(st.st_dev);
    file->inode = static_cast<unsigned long long>(st.st_ino);
    file->size = static_cast<unsigned long long>(st.st_size);
    file->seconds = static_cast<long long>(st.st_mtime);
    file->nanoseconds = nanosecondsOf(st);
    file->racy =
        static_cast<long long>(st.st_mtime) + 2 > static_cast<long long>(std::time(nullptr));
    if (!file->ini.load(path, static_cast<std::size_t>(st.st_size))) return nullptr;
    lastRead = file;
    return lastRead;
}

} // namespace

bool vorn_config::Snapshot::describes(const char* file, const struct stat& st) const {
    return !racy && file == path && device == static_cast<unsigned long long>(st.st_dev) &&
           inode == static_cast<unsigned long long>(st.st_ino) &&
           size == static_cast<unsigned long long>(st.st_size) &&
           seconds == static_cast<long long>(st.st_mtime) && nanoseconds == nanosecondsOf(st);
}

namespace {

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
    const auto& entries = file_->ini.entries();
    auto found = entries.find(static_cast<const char*>(entry));
    if (found != entries.end()) entry_ = &found->second;
}

vorn_string vorn_config::attr(const vorn_string& name) const {
    if (!entry_) return vorn_string();
    auto found = entry_->find(static_cast<const char*>(name));
    return found == entry_->end() ? vorn_string()
                                  : vorn_string(found->second.data(), found->second.size());
}
