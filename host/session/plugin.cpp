#include "plugin.h"

#include "plugin_file.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

bool pluginFileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}

bool Plugin::open(const std::string& path, std::string& error) {
    if (!pluginFileExists(path)) {
        error = path + ": no such plug-in file";
        return false;
    }
    // The file's own headers first: the system loader dies of a bus error on a truncated file,
    // and LoadLibrary gives one error number for every wrong file.
    const std::string why = whyNotAPlugin(path);
    if (!why.empty()) {
        error = "cannot load " + path + ": " + why;
        return false;
    }
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        // The causes a person can act on, named; any other by its number.
        const DWORD code = GetLastError();
        const char* why = code == ERROR_MOD_NOT_FOUND ? ": a DLL it needs is not there"
                          : code == ERROR_NOACCESS
                              ? ": its initialization faulted (an invalid memory access)"
                          : code == ERROR_DLL_INIT_FAILED ? ": its initialization failed"
                                                          : "";
        error = path + ": not a loadable library (LoadLibrary error " + std::to_string(code) + why +
                ")";
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
    // An existing file by its real path (no "..", no links); else the path from here.
    char real[PATH_MAX];
    if (realpath(path.c_str(), real)) return real;
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
#endif
}

DebugTap& DebugTap::instance() {
    static DebugTap tap;
    return tap;
}

#ifdef _WIN32
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C; a vectored handler in the process sees it
// first, as a debugger would.
namespace {
std::vector<std::string>* captured = nullptr;

LONG CALLBACK catchDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
        captured) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const std::size_t size = static_cast<std::size_t>(record->ExceptionInformation[0]);
        if (text)
            captured->emplace_back(text, size > 0 && text[size - 1] == '\0' ? size - 1 : size);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
void* handler = nullptr;
} // namespace

DebugTap::DebugTap() {
    captured = new std::vector<std::string>;
    handler = AddVectoredExceptionHandler(1, catchDebugString);
}
DebugTap::~DebugTap() {
    if (handler) RemoveVectoredExceptionHandler(handler);
    delete captured;
    captured = nullptr;
}
std::vector<std::string> DebugTap::take() {
    std::vector<std::string> texts;
    texts.swap(*captured);
    return texts;
}
#else
// The plug-in writes each debug text as one datagram into a socket that only this process
// reads: one text stays one text, line feeds and all, and nothing piles up in a file.
namespace {
int tapRead = -1, tapWrite = -1;
const int tapRoom = 4 << 20; // what one call into the component may write before it is read
} // namespace

DebugTap::DebugTap() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) return;
    tapRead = pair[0];
    tapWrite = pair[1];
    setsockopt(tapWrite, SOL_SOCKET, SO_SNDBUF, &tapRoom, sizeof tapRoom);
    setsockopt(tapRead, SOL_SOCKET, SO_RCVBUF, &tapRoom, sizeof tapRoom);
    setEnvironment("VORN_DEBUG_FD", std::to_string(tapWrite));
}
DebugTap::~DebugTap() {
    if (tapRead >= 0) close(tapRead);
    if (tapWrite >= 0) close(tapWrite);
    tapRead = tapWrite = -1;
    unsetenv("VORN_DEBUG_FD");
}
std::vector<std::string> DebugTap::take() {
    std::vector<std::string> texts;
    if (tapRead < 0) return texts;
    // Room for the largest text the socket takes, so that each text is one call. It is left
    // uninitialised: only the pages a text is written into are ever used.
    static const std::unique_ptr<char[]> buffer(new char[tapRoom]);
    for (;;) {
        const ssize_t n = recv(tapRead, buffer.get(), tapRoom, MSG_DONTWAIT);
        if (n < 0) break;
        texts.emplace_back(buffer.get(), static_cast<std::size_t>(n));
    }
    return texts;
}
#endif
