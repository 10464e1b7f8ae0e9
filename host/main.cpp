// vorn-host: plays the host of a script component, with a simulated facility of GPI devices.
// This file is the command line only: each command's work is in its own folder.
#include "config_check.h"
#include "default_plugin.h"
#include "run_command.h"
#include "sandbox.h"
#include "step.h"
#include "validator.h"
#ifdef VORN_SERVE
#include "server.h"
#endif

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif

namespace {

const char* const exitStatuses =
    R"(exit status: 0 all passed; 1 an expectation or check failed; 2 a malformed scenario line, a
scenario without steps, a plug-in that cannot be loaded, a wrong command line, or output that
could not be written.
)";

const char* const examples = R"(
examples:
  vorn-host run --plugin build/panels/components/Contact_Tile/Contact_Tile.so examples/demo.vorn
  vorn-host run --plugin build/panels/components/NAME/NAME.so -
  vorn-host validate --seed 7 build/panels/components/NAME/NAME.so
  vorn-host serve --config examples/vorn.ini
Options take their value as "--name value" or "--name=value"; "--" ends the options.
)";

// A whole number within [low, high]; the error names the range.
bool wholeNumber(const std::string& name, const std::string& text, unsigned long long low,
                 unsigned long long high, unsigned long long& value, std::string& error) {
    bool digits = !text.empty();
    for (char c : text)
        digits = digits && c >= '0' && c <= '9';
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = digits ? std::strtoull(text.c_str(), &end, 10) : 0;
    if (!digits || errno == ERANGE || n < low || n > high) {
        error = name + " takes a whole number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    value = n;
    return true;
}

// A check of a whole number within [low, high], worded as wholeNumber() words it.
CLI::Validator numberFrom(const std::string& name, unsigned long long low,
                          unsigned long long high) {
    return CLI::Validator(
        [=](std::string& text) {
            unsigned long long n = 0;
            std::string error;
            if (wholeNumber(name, text, low, high, n, error)) return std::string();
            return error.substr(name.size() + 1); // CLI11 names the option itself
        },
        "", "");
}

unsigned long long numberOf(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 10);
}

// An option's value is never another option: "--plugin --quiet" names no file.
// CLI11 names the option in front of the message.
CLI::Validator notAnOption(const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) {
            if (text.empty()) return "needs " + what;
            if (text.size() > 1 && text[0] == '-')
                return "needs " + what + ", not the option '" + text + "'";
            return std::string();
        },
        "", "");
}

// Standard output that could not be written is a failure of the command, whatever it found.
int finished(int status) {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "vorn-host: cannot write to standard output\n";
        return 2;
    }
    return status;
}

// A service manager or a CI step may start this program with 0, 1 or 2 closed: they are opened
// on the null device first, so that no file this program opens later takes their number (and is
// read as standard input, or written as standard output).
void keepStandardDescriptors() {
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
#endif
}

// The help's formatter: CLI11's, with the option lists as before.
std::shared_ptr<CLI::Formatter> formatter() {
    auto f = std::make_shared<CLI::Formatter>();
    f->column_width(22);
    f->label("REQUIRED", "");
    f->label("TEXT", "");
    return f;
}

} // namespace

int main(int argc, char** argv) {
    keepStandardDescriptors();
    if (sandboxIsChild(argc, argv)) return sandboxChildMain(argc, argv);
#ifndef _WIN32
    // Output to a reader that has gone is a write error (exit 2), not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    CLI::App app("vorn-host: plays the host of a script component, with a simulated facility of "
                 "GPI devices",
                 "vorn-host");
    app.formatter(formatter());
    // Paths start with '/' on the machines that run the tests, and file names are never
    // options: no "/option" form, on Windows either (CLI11's default there).
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    app.footer(std::string(exitStatuses) + examples);
    app.set_help_flag("-h,--help", "print this help (each command has its own: run --help)");
    bool version = false;
    app.add_flag("--version", version, "print the version and end");

    // run
    RunCommandOptions run;
    std::string stepSeconds = "60";
    CLI::App* runApp =
        app.add_subcommand("run", "run scenario files; '-' reads steps from standard input");
    runApp->add_option("SCENARIO", run.files, "scenario files, '-' for standard input");
    runApp
        ->add_option("--plugin", run.run.plugin,
                     "the plug-in to load when a scenario has no 'load' step (default: for a "
                     "scenario in panels/components/NAME/, NAME's; else the one plug-in beside "
                     "this program, else the one built with it)")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    runApp
        ->add_option("--config", run.run.config,
                     "configuration and facility file (VORN_CONFIG for the plug-in), unless a "
                     "scenario names its own with 'config'")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    runApp->add_flag("--quiet", run.run.quiet, "print only failures and the summary line")
        ->disable_flag_override();
    runApp
        ->add_option("--record", run.recordPath,
                     "write the steps run to OUT, each followed by all it made the component do "
                     "as expectations, so that 'vorn-host run OUT' passes")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    runApp
        ->add_option("--junit", run.junitPath,
                     "write a JUnit XML report: one test case per scenario file")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    runApp
        ->add_option("--timeout", stepSeconds,
                     "a step (a call into the plug-in) that has not returned within S seconds "
                     "ends the run, naming the step; 0 to 3600, 0 for no limit (default 60)")
        ->type_name("S")
        ->check(numberFrom("--timeout", 0, 3600));
    runApp->footer(std::string("Ctrl-C ends the run as the end of its input does: the "
                               "component's teardown is shown and the recording kept.\n\n") +
                   scenarioHelp() + "\n" + exitStatuses);

    // validate
    ValidateOptions validate;
    std::string plugin, seed, iterations = "200", timeout = "120", hang = "10";
    bool list = false;
    std::string refusedConfig;
    CLI::App* validateApp =
        app.add_subcommand("validate", "run the validation battery against a plug-in file");
    validateApp->add_option("PLUGIN", plugin, "the plug-in file")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    validateApp
        ->add_option("--seed", seed,
                     "seed of the random message sequences, 0 to 18446744073709551615 (default: "
                     "random; always printed)")
        ->type_name("N")
        ->check(numberFrom("--seed", 0, ~0ull));
    validateApp
        ->add_option("--iterations", iterations,
                     "number of random message sequences, 1 to 1000000 (default 200)")
        ->type_name("N")
        ->check(numberFrom("--iterations", 1, 1000000));
    validateApp
        ->add_option("--timeout", timeout,
                     "limit of each check in seconds, 1 to 3600 (default 120)")
        ->type_name("S")
        ->check(numberFrom("--timeout", 1, 3600));
    validateApp
        ->add_option("--hang", hang,
                     "a check that makes no progress for S seconds (a call into the plug-in "
                     "that does not return) has hung, 1 to 3600 (default 10)")
        ->type_name("S")
        ->check(numberFrom("--hang", 1, 3600));
    validateApp->add_flag("--list", list, "list the checks")->disable_flag_override();
    const auto checkName = CLI::Validator(
        [](std::string& name) {
            return findValidatorCheck(name) ? std::string()
                                            : "no check named '" + name + "' (see validate --list)";
        },
        "", "");
    validateApp
        ->add_option("--only", validate.only, "run only this check (may be given more than once)")
        ->type_name("NAME")
        ->allow_extra_args(false)
        ->check(checkName);
    validateApp
        ->add_option("--skip", validate.skip, "do not run this check (may be given more than once)")
        ->type_name("NAME")
        ->allow_extra_args(false)
        ->check(checkName);
    validateApp
        ->add_option("--junit", validate.junit,
                     "write a JUnit XML report here too: one test case per check")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    validateApp
        ->add_option("--out", validate.out,
                     "the folder for each failure's replay and the reports (report.json, "
                     "report.xml, report.html); default: a new folder here, named by the "
                     "plug-in, the seed and the time")
        ->type_name("DIR")
        ->check(notAnOption("a folder"));
    std::string level = std::to_string(ValidateOptions::defaultLevel), shrinkSeconds = "10";
    validateApp
        ->add_option("--level", level,
                     "how strict a run is: the checks of this level and below run, the rest are "
                     "skipped, 1 to " +
                         std::to_string(ValidateOptions::highestLevel) + " (default " +
                         std::to_string(ValidateOptions::defaultLevel) + ")")
        ->type_name("N")
        ->check(numberFrom("--level", 1, ValidateOptions::highestLevel));
    validateApp
        ->add_option("--shrink", shrinkSeconds,
                     "the time each failure may take to shrink, 0 to 3600 s (default 10)")
        ->type_name("S")
        ->check(numberFrom("--shrink", 0, 3600));
    std::string replay;
    validateApp
        ->add_option("--replay", replay,
                     "run a trial file a failure of several components was written as, and say "
                     "how it ends")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    validateApp->add_option("--config", refusedConfig)->group("");
    validateApp->footer(exitStatuses);

    // check
    std::string checkFile, checkPlugin;
    CLI::App* checkApp = app.add_subcommand(
        "check", "check a configuration and facility file: every line as it will be read");
    checkApp->add_option("FILE", checkFile, "the configuration file")
        ->required()
        ->check(notAnOption("a file"));
    checkApp
        ->add_option("--plugin", checkPlugin,
                     "the plug-in whose settings the tiles give (default as for run)")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    checkApp->footer("exit status: 0 nothing found; 1 problems found; 2 a file that cannot be "
                     "read or has malformed lines, a plug-in that cannot be asked, a wrong "
                     "command line.\n");

#ifdef VORN_SERVE
    // serve
    ServeOptions serveOptions;
    std::string port = "8150", serveTimeout = "10";
    CLI::App* serveApp =
        app.add_subcommand("serve", "serve the panel as a local web page of live tiles");
    serveApp->add_option("SCENARIO", serveOptions.scenario,
                         "a scenario file replayed on the page at the start");
    serveApp
        ->add_option("--plugin", serveOptions.plugin,
                     "the plug-in of the tiles (default as for run)")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    serveApp
        ->add_option("--config", serveOptions.config,
                     "configuration and facility file: its [tiles.NAME] sections (instance = "
                     "NAME, and settings as parent commands), else one tile for each instance")
        ->type_name("FILE")
        ->check(notAnOption("a file"));
    serveApp
        ->add_option("--port", port,
                     "the port, 0 to 65535 (default 8150; 0: any free one, printed)")
        ->type_name("N")
        ->check(numberFrom("--port", 0, 65535));
    CLI::Option* listen =
        serveApp
            ->add_option("--listen", serveOptions.listen,
                         "the address to listen on (default 127.0.0.1); any other lets other "
                         "machines drive the panel, and is warned of")
            ->type_name("ADDR")
            ->check(notAnOption("an address"));
    serveApp
        ->add_option("--timeout", serveTimeout,
                     "a step not answered within S seconds has hung, 1 to 3600 (default 10)")
        ->type_name("S")
        ->check(numberFrom("--timeout", 1, 3600));
    serveApp->footer(exitStatuses);
#else
    CLI::App* serveApp = app.add_subcommand("serve", "not in this build (it needs cpp-httplib)");
    serveApp->allow_extras();
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) { // --help, of vorn-host or of one command
            if (app.get_subcommands().empty())
                std::cout << app.help() << "\n" << scenarioHelp();
            else
                std::cout << app.get_subcommands().front()->help();
            return finished(0);
        }
        std::string what = e.what();
        const std::string override = " was given a disallowed flag override";
        if (what.size() > override.size() &&
            what.compare(what.size() - override.size(), override.size(), override) == 0)
            what = "--" + what.substr(0, what.size() - override.size()) + " takes no value";
        CLI::App* asked = app.get_subcommands().empty() ? &app : app.get_subcommands().front();
        std::cerr << "vorn-host: " << what << "\n(see vorn-host "
                  << (asked == &app ? "" : asked->get_name() + " ") << "--help)\n";
        return 2;
    }
    if (version) {
        std::cout << "vorn-host " << VORN_VERSION << "\n";
        return finished(0);
    }
    if (runApp->parsed()) {
        if (run.files.empty()) {
            std::cerr
                << "vorn-host: run needs a scenario file or '-'\n(see vorn-host run --help)\n";
            return 2;
        }
        if (std::count(run.files.begin(), run.files.end(), "-") > 1) {
            std::cerr << "vorn-host: '-' (standard input) can be read only once\n";
            return 2;
        }
        run.run.stepSeconds = static_cast<int>(numberOf(stepSeconds));
        run.pluginNamed = runApp->count("--plugin") > 0;
        return finished(runCommand(run));
    }
    if (validateApp->parsed()) {
        if (list) {
            for (const ValidatorCheck& check : validatorChecks())
                std::cout << check.name << "  " << check.topic << ", level " << check.level << ": "
                          << check.what << "\n";
            return finished(0);
        }
        if (validateApp->count("--config")) {
            std::cerr << "vorn-host: validate takes no --config: the battery makes its own "
                         "facility, so that its verdict does not depend on a file\n";
            return 2;
        }
        if (plugin.empty()) {
            std::cerr
                << "vorn-host: validate needs a plug-in file\n(see vorn-host validate --help)\n";
            return 2;
        }
        if (!seed.empty()) {
            validate.seed = numberOf(seed);
            validate.seedGiven = true;
        }
        validate.iterations = static_cast<int>(numberOf(iterations));
        validate.timeoutSeconds = static_cast<int>(numberOf(timeout));
        validate.hangSeconds = static_cast<int>(numberOf(hang));
        validate.level = static_cast<int>(numberOf(level));
        validate.shrinkSeconds = static_cast<double>(numberOf(shrinkSeconds));
        validate.hostVersion = VORN_VERSION;
        if (!replay.empty())
            return finished(replayTrial(replay, plugin, validate, std::cout, std::cerr));
        return finished(validatePlugin(plugin, validate, std::cout, std::cerr));
    }
    if (checkApp->parsed()) {
        std::string noPlugin;
        if (!checkApp->count("--plugin")) {
            const PluginChoice choice = defaultPluginFor("", pluginCandidates());
            checkPlugin = choice.path;
            noPlugin = "give --plugin FILE to check them";
        }
        return finished(checkCommand(checkFile, checkPlugin, noPlugin, std::cout, std::cerr));
    }
#ifdef VORN_SERVE
    if (serveApp->parsed()) {
        serveOptions.port = static_cast<int>(numberOf(port));
        serveOptions.stepSeconds = static_cast<int>(numberOf(serveTimeout));
        serveOptions.listenGiven = listen->count() > 0;
        if (!serveApp->count("--plugin")) {
            const PluginChoice choice = defaultPluginFor(serveOptions.scenario, pluginCandidates());
            if (choice.path.empty()) {
                std::cerr << "vorn-host: no plug-in: " << choice.why << "\n";
                return 2;
            }
            serveOptions.plugin = choice.path;
        }
        return finished(serve(serveOptions));
    }
#else
    if (serveApp->parsed()) {
        std::cerr << "vorn-host: serve is not in this build (it needs cpp-httplib when it is "
                     "built)\n";
        return 2;
    }
#endif
    std::cerr << "vorn-host: no command: run, validate, check or serve\n(see vorn-host --help)\n";
    return 2;
}
