// What a plug-in file is, read from its own headers before the system loader maps it: a loader
// that maps a truncated file dies of a bus error, and "LoadLibrary error 193" names no cause.
// Each reason is one of a fixed set, said so that a person knows what file to get instead.
#pragma once

#include <string>

// Empty when the file looks like a plug-in this vorn-host can load; else why not, as "a 64-bit
// (x64) DLL; the panel client loads 32-bit DLLs".
std::string whyNotAPlugin(const std::string& path);

// The file's version resource (a Windows DLL's FileVersion), or empty when it has none.
std::string pluginVersion(const std::string& path);
