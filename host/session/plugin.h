// A plug-in file loaded the way the real host loads it: by file, then its one export.
#pragma once

#include "vorn_host_contract.h"

#include <string>
#include <vector>

// Whether a plug-in file is there to load: a regular file (not a folder) at the path.
bool pluginFileExists(const std::string& path);

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the file and finds load_vorn_client_script. On failure the error names the file and
    // what is missing.
    bool open(const std::string& path, std::string& error);
    vorn_client_callback* create(HostClient* host, const char* folder) const {
        return load_(host, folder);
    }

private:
    void* handle_ = nullptr;
    vorn_load_function load_ = nullptr;
};

// Collects the plug-in's debug output (OutputDebugStringA on Windows, the VORN_DEBUG_FD channel
// elsewhere) so that it can be shown in its place among the commands.
// One for the process: the plug-ins' texts arrive in the order they were written, and each
// host collects them after every call into its component.
class DebugTap {
public:
    static DebugTap& instance();
    // Texts written since the last call, one per debug call, as written.
    std::vector<std::string> take();

private:
    DebugTap();
    ~DebugTap();
    DebugTap(const DebugTap&) = delete;
    DebugTap& operator=(const DebugTap&) = delete;
};

// Sets an environment variable for this process and the plug-ins it loads.
void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);
std::string absolutePath(const std::string& path);
