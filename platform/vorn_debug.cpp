#include "vorn_debug.h"

#ifdef _WIN32
#include <windows.h>

void vorn_debug_output(const char* text) {
    if (text) OutputDebugStringA(text);
}

#else
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Read at every text: a host may point the output elsewhere at any time.
int debugDescriptor() {
    const char* fd = std::getenv("VORN_DEBUG_FD");
    if (!fd || !*fd) return 2;
    int value = 0;
    for (; *fd >= '0' && *fd <= '9'; ++fd) {
        value = value * 10 + (*fd - '0');
        if (value >= 65536) return 2;
    }
    return *fd == '\0' ? value : 2;
}

// Writes to a file, a terminal or a pipe the way OutputDebugStringA behaves: it never fails
// the caller, never waits for a reader and never raises SIGPIPE. What cannot be written at
// once is dropped.
void writeQuietly(int fd, const char* text, std::size_t size) {
    sigset_t pipeSignal, before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &pipeSignal, &before) != 0) return;
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    bool broken = false;
    while (size > 0) {
        pollfd ready{fd, POLLOUT, {}};
        const timespec now{}; // room now, or never: no wait
        if (ppoll(&ready, 1, &now, nullptr) != 1 ||
            (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) || !(ready.revents & POLLOUT))
            break; // no reader, or no room: dropped
        // A pipe with room takes PIPE_BUF bytes without waiting.
        const std::size_t chunk = size < PIPE_BUF ? size : PIPE_BUF;
        const ssize_t written = ::write(fd, text, chunk);
        if (written == -1 && errno == EINTR) continue;
        if (written <= 0) {
            broken = errno == EPIPE;
            break;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
    if (broken && !wasPending) { // the SIGPIPE this write raised is ours: take it back
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

} // namespace

void vorn_debug_output(const char* text) {
    if (!text || !*text) return;
    const int fd = debugDescriptor();
    const std::size_t size = std::strlen(text);
    // A datagram socket (what a host that shows the texts gives): one text, one message, in
    // one call that neither waits nor raises a signal.
    if (::send(fd, text, size, MSG_NOSIGNAL | MSG_DONTWAIT) != -1 || errno != ENOTSOCK) return;
    writeQuietly(fd, text, size);
}
#endif
