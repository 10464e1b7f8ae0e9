// vorn_config: one entry of the platform's configuration.
//
// The configuration is the INI file named by the environment variable VORN_CONFIG (see
// vorn_ini.h for its form). The entry "instances.A" is the section [instances.A]. The file is
// read when the object is made; nothing is cached between objects. An unset variable, a file
// that cannot be read, a missing entry or a missing attribute all give the empty text.
#pragma once

#include "vorn_string.h"

#include <map>
#include <string>

class vorn_config {
public:
    explicit vorn_config(const vorn_string& entry);
    virtual ~vorn_config() = default;

    vorn_string attr(const vorn_string& name) const;

private:
    std::map<std::string, std::string> attributes_;
};
