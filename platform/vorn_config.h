// vorn_config: one entry of the platform's configuration.
//
// The configuration is the INI file named by the environment variable VORN_CONFIG when it is
// set, else the file vorn.ini in the folder of the plug-in file itself (see vorn_ini.h for its
// form). The entry "instances.A" is the section [instances.A]. Each object
// sees the file as it is when the object is made: the parsed file is kept by the store below,
// keyed by the file's path, identity, size and modification time, which are checked (one stat)
// every time an object is made, so an edited file is seen by the next object. A file modified
// in the two seconds before it was read is read again every time, until it has settled. An unset
// variable, a file that cannot be read, a missing entry or a missing attribute all give the
// empty text.
#pragma once

#include "vorn_ini.h"
#include "vorn_string.h"

#include <memory>

class vorn_config {
public:
    explicit vorn_config(const vorn_string& entry);
    virtual ~vorn_config() = default;

    vorn_string attr(const vorn_string& name) const;

    struct Snapshot; // one reading of the file

private:
    std::shared_ptr<const Snapshot> file_; // keeps entry_ valid while the file is re-read
    const vorn_ini::Entry* entry_ = nullptr;
};
