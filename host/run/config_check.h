// `vorn-host check FILE`: a configuration and facility file read as run and serve read it,
// and everything in it that will not do what it seems to, each with its line and, for a name
// that is not known, the closest one that is.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct ConfigFinding {
    enum Kind {
        Malformed, // a line no reader uses, or a value that is not a number: run stops for it
        Unknown,   // read, but not as meant: a cut value, a name nobody reads, a missing instance
    } kind = Unknown;
    int line = 0; // 0: the file as a whole
    std::string text;
};

// The component's settings, when they are known (the plug-in was asked); unknown: not checked.
struct KnownSettings {
    bool known = false;
    std::vector<std::string> names;
};

// What is wrong in the file at path, in the order of its lines. False when it cannot be read
// (one finding says so).
bool checkConfig(const std::string& path, const KnownSettings& settings,
                 std::vector<ConfigFinding>& findings);

// The known name a person most likely meant by name: the same but for case, else the nearest
// within a few edits; empty when none is near.
std::string closestName(const std::string& name, const std::vector<std::string>& known);

// The settings of the plug-in's component, asked in a child of its own (a plug-in that crashes
// or hangs ends that child): its "_commands" and "return=all" names. False with why.
bool learnSettings(const std::string& plugin, KnownSettings& settings, std::string& error);

// The findings as a person reads them: "FILE:LINE: text" a line each, then how many.
std::string describeFindings(const std::string& path, const std::vector<ConfigFinding>& findings);

// The command: the findings on out, a summary line; the settings are those of plugin, when one
// is given (else not checked, and said). Exit status: 0 nothing found, 1 findings, 2 a file
// that cannot be read or has malformed lines (as run stops for it), or a plug-in that cannot
// be asked.
int checkCommand(const std::string& path, const std::string& plugin, const std::string& noPlugin,
                 std::ostream& out, std::ostream& err);
