#include "plugin.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace {
bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}
} // namespace

bool Plugin::open(const std::string& path, std::string& error) {
    if (!fileExists(path)) {
        error = path + ": no such plug-in file";
        return false;
    }
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        error = path + ": not a loadable library (LoadLibrary error " +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    handle_ = module;
    load_ = reinterpret_cast<vorn_load_function>(
        reinterpret_cast<void*>(GetProcAddress(module, VORN_LOAD_FUNCTION_NAME)));
#else
    // A path without a slash would be searched for on the library path; the host means the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error = path + ": not a loadable library (" + (why ? why : "unknown reason") + ")";
        return false;
    }
    load_ = reinterpret_cast<vorn_load_function>(dlsym(handle_, VORN_LOAD_FUNCTION_NAME));
#endif
    if (!load_) {
        error = path + ": does not export " VORN_LOAD_FUNCTION_NAME;
        return false;
    }
    return true;
}

Plugin::~Plugin() {
#ifdef _WIN32
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (handle_) dlclose(handle_);
#endif
}

void setEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void unsetEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

std::string absolutePath(const std::string& path) {
#ifdef _WIN32
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full, n) : path;
#else
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
#endif
}

DebugTap& DebugTap::instance() {
    static DebugTap tap;
    return tap;
}

std::vector<std::string> DebugTap::take() {
    const std::string written = takeWritten();
    std::vector<std::string> texts;
    for (std::size_t start = 0; start < written.size();) {
        std::size_t end = written.find('\n', start);
        end = end == std::string::npos ? written.size() : end + 1;
        texts.push_back(written.substr(start, end - start));
        start = end;
    }
    return texts;
}

#ifdef _WIN32
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C; a vectored handler in the process sees it
// first, as a debugger would.
namespace {
std::string* captured = nullptr;

LONG CALLBACK catchDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
        captured) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const std::size_t size = static_cast<std::size_t>(record->ExceptionInformation[0]);
        if (text) captured->append(text, size > 0 && text[size - 1] == '\0' ? size - 1 : size);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
void* handler = nullptr;
} // namespace

DebugTap::DebugTap() {
    captured = new std::string;
    handler = AddVectoredExceptionHandler(1, catchDebugString);
}
DebugTap::~DebugTap() {
    if (handler) RemoveVectoredExceptionHandler(handler);
    delete captured;
    captured = nullptr;
}
std::string DebugTap::takeWritten() {
    std::string text;
    text.swap(*captured);
    return text;
}
#else
namespace {
int tapFd = -1;
long tapOffset = 0;
} // namespace

DebugTap::DebugTap() {
    char name[] = "/tmp/vorn-host-debug-XXXXXX";
    tapFd = mkstemp(name);
    if (tapFd >= 0) {
        unlink(name);
        setEnvironment("VORN_DEBUG_FD", std::to_string(tapFd));
    }
    tapOffset = 0;
}
DebugTap::~DebugTap() {
    if (tapFd >= 0) close(tapFd);
    tapFd = -1;
    unsetenv("VORN_DEBUG_FD");
}
std::string DebugTap::takeWritten() {
    std::string text;
    if (tapFd < 0) return text;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(tapFd, chunk, sizeof chunk, tapOffset)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
        tapOffset += n;
    }
    return text;
}
#endif
