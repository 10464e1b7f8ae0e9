#include "default_plugin.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const pluginExtension = ".dll";
#else
const char* const pluginExtension = ".so";
#endif

fs::path programFolder() {
#ifdef _WIN32
    char name[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return fs::path(std::string(name, n)).parent_path();
#else
    char name[4096];
    const ssize_t n = readlink("/proc/self/exe", name, sizeof name - 1);
    if (n <= 0) return {};
    return fs::path(std::string(name, static_cast<std::size_t>(n))).parent_path();
#endif
}

// The component a scenario's folder belongs to: NAME of .../panels/components/NAME/...
std::string componentOfFolder(const std::string& scenario) {
    std::error_code error;
    const fs::path absolute = fs::absolute(scenario, error);
    if (error) return {};
    std::string previous, beforeThat;
    for (const fs::path& part : absolute.parent_path()) {
        if (beforeThat == "panels" && previous == "components") return part.string();
        beforeThat = previous;
        previous = part.string();
    }
    return {};
}

std::string names(const std::vector<PluginCandidate>& candidates) {
    std::string text;
    for (const PluginCandidate& c : candidates)
        text += (text.empty() ? "" : ", ") + c.name + " (" + c.path + ")";
    return text;
}

} // namespace

std::vector<PluginCandidate> pluginCandidates() {
    std::vector<PluginCandidate> found;
    const fs::path folder = programFolder();
    if (folder.empty()) return found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const fs::path& file = entry.path();
        if (file.extension() == pluginExtension && entry.is_regular_file(error))
            found.push_back({file.stem().string(), file.string()});
    }
#ifdef VORN_BUILT_PLUGINS
    // The build's shipped components, relative to this program, '|' between them.
    if (found.empty()) {
        const std::string built = VORN_BUILT_PLUGINS;
        for (std::size_t at = 0; at < built.size();) {
            std::size_t end = built.find('|', at);
            if (end == std::string::npos) end = built.size();
            const fs::path file = folder / built.substr(at, end - at);
            if (fs::is_regular_file(file, error))
                found.push_back({file.stem().string(), file.lexically_normal().string()});
            at = end + 1;
        }
    }
#endif
    std::sort(found.begin(), found.end(),
              [](const PluginCandidate& a, const PluginCandidate& b) { return a.name < b.name; });
    return found;
}

PluginChoice defaultPluginFor(const std::string& scenario,
                              const std::vector<PluginCandidate>& candidates) {
    const std::string component =
        scenario.empty() || scenario == "-" ? std::string() : componentOfFolder(scenario);
    if (!component.empty()) {
        for (const PluginCandidate& c : candidates)
            if (c.name == component) return {c.path, ""};
        return {"", "the scenario is " + component + "'s, and no " + component + pluginExtension +
                        " is built" +
                        (candidates.empty() ? "" : " (there are: " + names(candidates) + ")") +
                        "; give --plugin FILE or a 'load FILE' step"};
    }
    if (candidates.size() == 1) return {candidates.front().path, ""};
    if (candidates.empty())
        return {"", "none is beside vorn-host nor built with it; give --plugin FILE or a "
                    "'load FILE' step"};
    return {"", "which one? There are several: " + names(candidates) +
                    "; give --plugin FILE or a 'load FILE' step"};
}
