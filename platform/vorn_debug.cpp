#include "vorn_debug.h"

#ifdef _WIN32
#include <windows.h>

void vorn_debug_output(const char* text) {
    if (text) OutputDebugStringA(text);
}

#else
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

int debugDescriptor() {
    const char* fd = std::getenv("VORN_DEBUG_FD");
    if (!fd || *fd < '0' || *fd > '9') return 2;
    char* end = nullptr;
    long value = std::strtol(fd, &end, 10);
    return (*end == '\0' && value >= 0 && value < 65536) ? static_cast<int>(value) : 2;
}

} // namespace

void vorn_debug_output(const char* text) {
    if (!text) return;
    const int fd = debugDescriptor();
    std::size_t left = std::strlen(text);
    while (left > 0) {
        ssize_t written = ::write(fd, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}
#endif
