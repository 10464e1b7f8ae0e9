#include "vorn_config.h"

#include "vorn_ini.h"

#include <cstdlib>

vorn_config::vorn_config(const vorn_string& entry) {
    const char* path = std::getenv("VORN_CONFIG");
    if (!path || !*path) return;
    vorn_ini file;
    if (!file.load(path)) return;
    auto found = file.entries().find(static_cast<const char*>(entry));
    if (found != file.entries().end()) attributes_ = found->second;
}

vorn_string vorn_config::attr(const vorn_string& name) const {
    auto found = attributes_.find(static_cast<const char*>(name));
    return found == attributes_.end() ? vorn_string() : vorn_string(found->second.c_str());
}
