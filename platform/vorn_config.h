// vorn_config: one entry of the platform's configuration.
//
// The configuration is the INI file named by the environment variable VORN_CONFIG when it is
// set, else the file vorn.ini in the folder of the plug-in file itself (see vorn_ini.h for its
// form). The entry "instances.A" is the section [instances.A]. An unset variable, a file that
// cannot be read, a missing entry or a missing attribute all give the empty text.
//
// The file is read on the panel client's own thread, so what one reading may cost is bounded:
// - A file over maxFileSize bytes is not opened: one debug text names it and its size, once
//   for each version of the file, and every label from it is empty.
// - Below that, a reading costs time linear in the file, once per change of the file: each
//   object checks the file with one stat and reuses the last reading while the file's identity,
//   size and time stamp are unchanged. The reading keeps the file's bytes, an index of 12 bytes
//   an attribute and 4 an entry, and hash tables of at most 11 bytes an item: for any file, at
//   most 8 times its size beyond the file itself (a test holds it to that).
// - Lines the reader cannot use (malformed, or holding a NUL or a control character) are
//   reported as debug texts "FILE:LINE: why", once for each version of the file, and give no
//   text.
// - A file that changes while it is read is read again; when it keeps changing, the previous
//   reading of the same file is kept. A file modified in the two seconds before it was read is
//   read again every time until it has settled, since a quick second edit may keep the same
//   time stamp.
#pragma once

#include "vorn_string.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class vorn_config {
public:
    static constexpr std::size_t maxFileSize = 1024 * 1024;

    explicit vorn_config(const vorn_string& entry);
    virtual ~vorn_config() = default;

    vorn_string attr(const vorn_string& name) const;

    struct Snapshot; // one reading of the file

private:
    std::shared_ptr<const Snapshot> file_; // keeps entry_ valid while the file is re-read
    const char* entry_ = nullptr;          // the entry's name in the reading, when it has it
    std::uint32_t entryHash_ = 0;
};
