// Whole-file reads that can be trusted: a file is read only when it is a regular file no larger
// than the caller allows, and a reading is kept only when the file was the same file, of the
// same size and time stamp, before and after it (a file saved in place while it is read is
// caught and read again).
//
// What is not caught: a writer that pauses between two writes of the same size within one tick
// of the file system's clock, exactly while the read runs, leaves nothing that stat can tell.
// A caller that caches a reading guards against that with `settled`.
#pragma once

#include <cstddef>
#include <string>

// The file as stat sees it. Identity (device and inode) is known on POSIX systems only.
struct vorn_file_version {
    unsigned long long device{}, inode{}, size{};
    long long seconds{}, nanoseconds{}; // modification time
    bool regular{};

    bool operator==(const vorn_file_version& o) const {
        return device == o.device && inode == o.inode && size == o.size && seconds == o.seconds &&
               nanoseconds == o.nanoseconds && regular == o.regular;
    }
    // Modified long enough ago (two seconds) that a later edit cannot carry the same time stamp.
    bool settled() const;
};

// The file's version, from one stat; false when it does not exist or cannot be examined.
bool vorn_file_stat(const char* path, vorn_file_version& version);

enum class vorn_file_read {
    Read,     // text holds the whole file, as it was from start to end of the read
    Missing,  // not there, or not a regular file
    TooLarge, // version.size is over the limit: nothing was opened
    Changing, // it changed during every one of three reads
    Failed,   // it could not be opened or read
};

// Reads the file whose version the caller has just taken (version is updated when the file
// turns out to have changed since). Reads at most limit bytes.
vorn_file_read vorn_file_read_whole(const char* path, std::size_t limit, vorn_file_version& version,
                                    std::string& text);
