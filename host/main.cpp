// vorn-host: plays the host of a script component, with a simulated facility of GPI devices.
#include "scenario_language.h"
#include "scenario_runner.h"
#include "validator.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#ifndef VORN_DEFAULT_PLUGIN
#define VORN_DEFAULT_PLUGIN ""
#endif

namespace {

const char* const usage = R"(usage:
  vorn-host run [options] SCENARIO...   run scenario files; '-' reads steps from standard input
  vorn-host validate [options] PLUGIN   run the validation battery against a plug-in file
  vorn-host --help

options of run:
  --plugin FILE     the plug-in to load when a scenario has no 'load' step
                    (default: the plug-in built beside this program)
  --config FILE     configuration and facility file (VORN_CONFIG for the plug-in), unless a
                    scenario names its own with 'config'
  --quiet           print only failures and the summary line
options of validate:
  --seed N          seed of the random message sequences (default: random; always printed)
  --iterations N    number of random message sequences (default 200)
  --config FILE     configuration and facility file for the battery's lives

exit status: 0 all passed; 1 an expectation or test failed; 2 a malformed scenario line, a
plug-in that cannot be loaded, or a wrong command line.
)";

int usageError(const std::string& message) {
    std::cerr << "vorn-host: " << message << "\n(see vorn-host --help)\n";
    return 2;
}

bool takeValue(int& i, int argc, char** argv, std::string& value) {
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

int run(int argc, char** argv) {
    RunOptions options;
    options.plugin = VORN_DEFAULT_PLUGIN;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin" || arg == "--config") {
            std::string value;
            if (!takeValue(i, argc, argv, value)) return usageError(arg + " needs a file");
            (arg == "--plugin" ? options.plugin : options.config) = value;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return usageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usageError("run needs a scenario file or '-'");
    int passed = 0, failed = 0;
    bool malformed = false;
    for (const std::string& file : files) {
        RunResult result;
        if (file == "-") {
            RunOptions interactive = options;
            interactive.interactive = isatty(0) != 0;
            result = runScenario(std::cin, "-", interactive, std::cout, std::cerr);
        } else {
            std::ifstream in(file);
            if (!in) {
                std::cerr << file << ":0: cannot open the scenario file\n";
                malformed = true;
                ++failed;
                continue;
            }
            result = runScenario(in, file, options, std::cout, std::cerr);
        }
        std::cout.flush();
        malformed = malformed || result.malformed;
        if (result.failures == 0 && !result.malformed)
            ++passed;
        else
            ++failed;
    }
    std::cout << "scenarios: " << passed << " passed, " << failed << " failed\n";
    return malformed ? 2 : failed ? 1 : 0;
}

int validate(int argc, char** argv) {
    ValidateOptions options;
    std::string plugin;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--seed" || arg == "--iterations" || arg == "--config") {
            if (!takeValue(i, argc, argv, value)) return usageError(arg + " needs a value");
            if (arg == "--config") {
                options.config = value;
                continue;
            }
            char* end = nullptr;
            const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || value[0] == '-')
                return usageError(arg + " needs a whole number");
            if (arg == "--seed") {
                options.seed = n;
                options.seedGiven = true;
            } else {
                options.iterations = static_cast<int>(n > 1000000 ? 1000000 : n);
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (plugin.empty()) {
            plugin = arg;
        } else {
            return usageError("validate takes one plug-in file");
        }
    }
    if (plugin.empty()) return usageError("validate needs a plug-in file");
    return validatePlugin(plugin, options, std::cout, std::cerr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage << "\n" << scenarioHelp();
        return 0;
    }
    if (command == "run") return run(argc, argv);
    if (command == "validate") return validate(argc, argv);
    return usageError("unknown command " + command);
}
