#include "vorn_file.h"

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// 64-bit sizes, so that a file of 2 GB or more is measured rather than failing to stat.
using StatBuffer = struct _stat64;
int statPath(const char* path, StatBuffer* st) {
    return _stat64(path, st);
}
int statDescriptor(int fd, StatBuffer* st) {
    return _fstat64(fd, st);
}
const int readFlags = O_RDONLY | O_BINARY;
#else
using StatBuffer = struct stat;
int statPath(const char* path, StatBuffer* st) {
    return ::stat(path, st);
}
int statDescriptor(int fd, StatBuffer* st) {
    return ::fstat(fd, st);
}
const int readFlags = O_RDONLY | O_CLOEXEC;
#endif

vorn_file_version versionOf(const StatBuffer& st) {
    vorn_file_version v;
#ifndef _WIN32
    // The CRT on Windows has no file identity: its inode is always 0, and its device is the
    // drive's number from a path but 0 from a descriptor. There, size and time stamp tell.
    v.device = static_cast<unsigned long long>(st.st_dev);
    v.inode = static_cast<unsigned long long>(st.st_ino);
#endif
    v.size = static_cast<unsigned long long>(st.st_size);
    v.seconds = static_cast<long long>(st.st_mtime);
#if defined(_WIN32)
    v.nanoseconds = 0;
#elif defined(__APPLE__)
    v.nanoseconds = st.st_mtimespec.tv_nsec;
#else
    v.nanoseconds = st.st_mtim.tv_nsec;
#endif
    v.regular = (st.st_mode & S_IFMT) == S_IFREG;
    return v;
}

// One attempt: true when the whole file was read and it stayed the version expected.
bool readOnce(const char* path, const vorn_file_version& expected, std::string& text) {
    const int fd = ::open(path, readFlags);
    if (fd < 0) return false;
    StatBuffer st;
    bool same = statDescriptor(fd, &st) == 0 && versionOf(st) == expected;
    if (same) {
        // One byte more than the file should hold: reading it means the file grew.
        text.assign(static_cast<std::size_t>(expected.size) + 1, '\0');
        std::size_t size = 0;
        for (;;) {
            const auto n = ::read(fd, &text[size], static_cast<unsigned>(text.size() - size));
            if (n <= 0) {
                same = n == 0;
                break;
            }
            size += static_cast<std::size_t>(n);
            if (size == text.size()) break;
        }
        same = same && size == expected.size && statDescriptor(fd, &st) == 0 &&
               versionOf(st) == expected;
        text.resize(size);
    }
    ::close(fd);
    return same;
}

} // namespace

bool vorn_file_version::settled() const {
    return seconds + 2 <= static_cast<long long>(std::time(nullptr));
}

bool vorn_file_stat(const char* path, vorn_file_version& version) {
    StatBuffer st;
    if (!path || statPath(path, &st) != 0) return false;
    version = versionOf(st);
    return true;
}

vorn_file_read vorn_file_read_whole(const char* path, std::size_t limit, vorn_file_version& version,
                                    std::string& text) {
    text.clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!version.regular) return vorn_file_read::Missing;
        if (version.size > limit) return vorn_file_read::TooLarge;
        if (readOnce(path, version, text)) return vorn_file_read::Read;
        // Changed, or gone, since the version was taken: take it again and retry.
        const vorn_file_version before = version;
        if (!vorn_file_stat(path, version)) return vorn_file_read::Missing;
        if (version == before) return vorn_file_read::Failed; // unchanged, yet unreadable
    }
    text.clear();
    return vorn_file_read::Changing;
}
