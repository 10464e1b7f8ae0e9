// Which plug-in vorn-host runs when none is named: vorn-host knows no component by name, only
// the plug-in files it finds.
#pragma once

#include <string>
#include <vector>

struct PluginCandidate {
    std::string name; // the file's name without its extension: the component's name
    std::string path;
};

// The plug-ins vorn-host can take without being told: those beside the program (as a package
// holds them), else those of the build the program comes from, found from where it is.
std::vector<PluginCandidate> pluginCandidates();

struct PluginChoice {
    std::string path; // empty: none chosen
    std::string why;  // when none: why, and what to do, for a person
};

// The default plug-in for a scenario file ("" or "-" for none): for one under
// panels/components/NAME/ the plug-in NAME; else the only candidate there is.
PluginChoice defaultPluginFor(const std::string& scenario,
                              const std::vector<PluginCandidate>& candidates);
