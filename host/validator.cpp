#include "validator.h"

#include "emulated_host.h"
#include "plugin.h"
#include "vorn_records.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

using Check = std::function<std::string()>; // empty: passed; else the reason

// Commands of one life, in order.
std::vector<std::string> commandsOf(const EmulatedHost& host) {
    std::vector<std::string> commands;
    for (const HostEvent& e : host.events)
        if (e.kind == HostEvent::Command) commands.push_back(e.text);
    return commands;
}

// What every life must end with: no breach of the host contract, every reply back, "AS" last.
std::string lifeProblems(const EmulatedHost& host) {
    if (!host.violations.empty()) return host.violations.front();
    if (host.outstandingReplies() != 0) return "a reply was not handed back";
    const std::vector<std::string> commands = commandsOf(host);
    if (commands.empty() || commands.back() != "AS") return "the life did not end with AS";
    if (std::count(commands.begin(), commands.end(), "AS") != 1) return "AS sent more than once";
    return {};
}

Facility referenceFacility() {
    Facility f;
    f.instances["A"] = {12, 3, "Studio A", std::nullopt};
    f.instances["B"] = {20, 7, "Studio B", std::nullopt};
    f.instances["Bad"] = {1000, 3, "", std::nullopt};
    return f;
}

std::string join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += "  " + l + "\n";
    return all;
}

std::string referenceLife(const Plugin& plugin) {
    EmulatedHost host(referenceFacility());
    host.facility.setState(12, 3, 1);
    if (!host.create(plugin, "panels")) return "the plug-in returned no component";
    bool answered = false;
    const std::string all = host.parentCommand("return=all", answered);
    if (all != "useButton=true\nsendGPI=true\nuseText=false\nbuttonText=\nstateSheet=\noffState="
               "\nonState=")
        return "return=all answered '" + all + "'";
    host.parentCommand("onState=green", answered);
    host.parentCommand("offState=red", answered);
    host.parentCommand("instance=A", answered);
    host.press("1", "MyContact_Tile");
    host.advance(10000);
    host.parentCommand("instance=Bad", answered);
    host.parentCommand("instance=B", answered);
    host.tick(3);
    host.destroy();
    const std::vector<std::string> expected = {"ET 1 10000",
                                               "PS '1' 'panels/myButton.vorn_ui'",
                                               "SD 'A'",
                                               "GR 12 3 3",
                                               "GP 12 3 3",
                                               "TP 'text=' '1' 'MyContact_Tile'",
                                               "TP 'statesheet=green' '1' 'MyContact_Tile'",
                                               "HN 'GPIvalue=1'",
                                               "GS 12 3 0 1",
                                               "TP 'statesheet=red' '1' 'MyContact_Tile'",
                                               "HN 'GPIvalue=0'",
                                               "GP 12 3 3",
                                               "GU 12",
                                               "SD 'Bad'",
                                               "GU 12",
                                               "SD 'B'",
                                               "GR 20 7 7",
                                               "GP 20 7 7",
                                               "TP 'text=' '1' 'MyContact_Tile'",
                                               "ET 3",
                                               "GU 20",
                                               "ET 1",
                                               "AS"};
    const std::vector<std::string> actual = commandsOf(host);
    if (actual != expected)
        return "commands differ; expected:\n" + join(expected) + "  actual:\n" + join(actual);
    std::vector<std::string> debug;
    for (const HostEvent& e : host.events)
        if (e.kind == HostEvent::Debug) debug.push_back(e.text);
    const std::vector<std::string> expectedDebug = {"Instance change code called - Instance=A\n",
                                                    "Instance change code called - Instance=Bad\n",
                                                    "No valid device or contact\n",
                                                    "Instance change code called - Instance=B\n"};
    if (debug != expectedDebug) return "debug texts differ";
    return lifeProblems(host);
}

std::string createDeleteInARow(const Plugin& plugin) {
    for (int i = 0; i < 1000; ++i) {
        EmulatedHost host;
        if (!host.create(plugin, i % 2 ? "" : "p"))
            return "life " + std::to_string(i) + ": no component";
        host.destroy();
        const std::vector<std::string> expected = {
            "ET 1 10000", i % 2 ? "PS '1' 'myButton.vorn_ui'" : "PS '1' 'p/myButton.vorn_ui'",
            "ET 1", "AS"};
        if (commandsOf(host) != expected)
            return "life " + std::to_string(i) + ": unexpected commands";
        std::string problem = lifeProblems(host);
        if (!problem.empty()) return "life " + std::to_string(i) + ": " + problem;
    }
    return {};
}

std::string fiftyAlive(const Plugin& plugin) {
    constexpr int count = 50;
    Facility facility;
    for (int i = 0; i < count; ++i)
        facility.instances["I" + std::to_string(i)] = {100 + i, 1 + i % 8, "", std::nullopt};
    std::vector<std::unique_ptr<EmulatedHost>> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(std::make_unique<EmulatedHost>(facility));
        if (!hosts.back()->create(plugin, ""))
            return "component " + std::to_string(i) + ": not created";
    }
    bool answered = false;
    for (int i = 0; i < count; ++i) {
        hosts[i]->parentCommand("instance=I" + std::to_string(i), answered);
        hosts[i]->parentCommand("buttonText=T" + std::to_string(i), answered);
    }
    // Component i is told that contact of component (i+1) switched on: only a matching report
    // counts.
    for (int i = 0; i < count; ++i) {
        const int other = (i + 1) % count;
        const std::size_t before = hosts[i]->events.size();
        hosts[i]->report(100 + other, 1 + other % 8, 1);
        for (std::size_t e = before; e < hosts[i]->events.size(); ++e)
            if (hosts[i]->events[e].kind == HostEvent::Command)
                return "component " + std::to_string(i) + " reacted to another's contact";
        hosts[i]->report(100 + i, 1 + i % 8, 1);
        if (hosts[i]->notifications.empty() || hosts[i]->notifications.back() != "GPIvalue=1")
            return "component " + std::to_string(i) + " did not track its own contact";
    }
    for (int i = 0; i < count; ++i) {
        const std::string all = hosts[i]->parentCommand("return=all", answered);
        if (all.find("buttonText=T" + std::to_string(i) + "\n") == std::string::npos)
            return "component " + std::to_string(i) + " does not hold its own settings";
    }
    // Deleted in an order unrelated to creation.
    for (int step = 0; step < count; ++step) {
        const int i = (step * 17) % count;
        hosts[i]->destroy();
        const std::vector<std::string> commands = commandsOf(*hosts[i]);
        const std::vector<std::string> tail(commands.end() - 3, commands.end());
        if (tail != std::vector<std::string>{"GU " + std::to_string(100 + i), "ET 1", "AS"})
            return "component " + std::to_string(i) + " ended wrongly";
        std::string problem = lifeProblems(*hosts[i]);
        if (!problem.empty()) return "component " + std::to_string(i) + ": " + problem;
    }
    return {};
}

std::string nullHostLife(const Plugin& plugin) {
    vorn_client_callback* component = plugin.create(nullptr, "panels");
    if (!component) return "no component";
    const char* texts[] = {
        "instance=A", "useText=true", "useButton=false", "return=all", "_commands", "", nullptr};
    for (const char* text : texts) {
        char* answer = component->dispatch(const_cast<char*>(text), VORN_MSG_PARENT);
        if (answer && std::strlen(answer) == 0) return "an empty answer buffer";
        component->dispatch(answer, VORN_MSG_RELEASE);
    }
    HostDeviceRecord report{0, 0, 0, 1};
    component->dispatch(&report, VORN_MSG_DEVICE_REPORT);
    HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
    component->dispatch(&press, VORN_MSG_BUTTON);
    component->dispatch(reinterpret_cast<void*>(1), VORN_MSG_TIMER);
    component->dispatch(reinterpret_cast<void*>(9), VORN_MSG_TIMER);
    std::int32_t opaque[16] = {};
    for (int type : {0, 5, 6, 7, 8, -1})
        component->dispatch(type == 5 ? nullptr : opaque, type);
    vorn_abi_delete(component);
    return {};
}

// Random texts of the kinds a host may pass.
class Randomness {
public:
    explicit Randomness(std::uint64_t seed) : engine_(seed) {}
    int below(int n) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(n)); }
    std::int32_t number() {
        switch (below(6)) {
        case 0:
            return 0;
        case 1:
            return INT_MIN;
        case 2:
            return INT_MAX;
        case 3:
            return -below(5);
        case 4:
            return static_cast<std::int32_t>(engine_());
        default:
            return below(1001);
        }
    }
    std::string text() {
        static const char* const pieces[] = {
            "",         ".",      "=",   "'",    " ",       "..",        "useButton",
            "instance", "return", "all", "true", "FALSE",   "A",         "\xc3\xa9\xe2\x82\xac",
            "%1",       "%2",     "\\",  "\t",   "_events", "_commands", "12 3"};
        std::string t;
        const int n = below(8);
        for (int i = 0; i < n; ++i)
            t += pieces[below(static_cast<int>(sizeof pieces / sizeof *pieces))];
        if (below(20) == 0) t += std::string(static_cast<std::size_t>(below(5000)), 'x');
        return t;
    }
    std::string parentText(const std::vector<std::string>& names) {
        static const char* const commands[] = {"useButton",  "sendGPI",  "useText",  "buttonText",
                                               "stateSheet", "offState", "onState",  "return",
                                               "instance",   "_events",  "_commands"};
        static const char* const values[] = {"true",    "false",     "True",       "FALSE",
                                             "all",     "useButton", "buttonText", "useText",
                                             "sendGPI", "",          "yes"};
        switch (below(4)) {
        case 0:
            return text();
        case 1:
            return std::string("instance=") +
                   names[static_cast<std::size_t>(below(static_cast<int>(names.size())))];
        default:
            return std::string(commands[below(11)]) + (below(5) ? "=" : "") +
                   (below(3) ? values[below(11)] : text());
        }
    }
    std::string reply() {
        switch (below(6)) {
        case 0:
            return "";
        case 1:
            return std::to_string(number()) + " " + std::to_string(number());
        case 2:
            return "99999999999999999999 -99999999999999999999";
        case 3:
            return "'" + text() + "' '" + text();
        case 4:
            return text();
        default:
            return std::to_string(1 + below(999)) + " " + std::to_string(1 + below(999));
        }
    }

private:
    std::mt19937_64 engine_;
};

std::string randomSequences(const Plugin& plugin, std::uint64_t seed, int iterations) {
    Randomness rnd(seed);
    for (int life = 0; life < iterations; ++life) {
        Facility facility;
        std::vector<std::string> names = {"", "A", "it's", "x y"};
        for (std::size_t n = 0; n < names.size(); ++n) {
            FacilityInstance instance{1 + rnd.below(999), 1 + rnd.below(999), rnd.text(),
                                      std::nullopt};
            if (rnd.below(2)) instance.reply = rnd.reply();
            facility.instances[names[n]] = instance;
        }
        names.push_back("unknown");
        EmulatedHost host(facility);
        auto where = [&](int step, const std::string& what) {
            return "life " + std::to_string(life) + ", step " + std::to_string(step) + ": " + what;
        };
        if (!host.create(plugin, rnd.below(2) ? "" : rnd.text())) return where(0, "no component");
        std::vector<char*> held; // answer buffers the host has not handed back yet
        const int steps = 20 + rnd.below(60);
        for (int step = 1; step <= steps; ++step) {
            const int type = rnd.below(11) - 1; // -1 to 9
            switch (type) {
            case 1:
                host.report(rnd.number(), rnd.number(), rnd.below(3) ? rnd.below(2) : rnd.number());
                break;
            case 2: {
                static const char* const panels[] = {"1", "2", "01", "", "1 "};
                const std::string control = rnd.below(4) ? "MyContact_Tile" : rnd.text();
                host.press(panels[rnd.below(5)], control);
                break;
            }
            case 3: {
                std::string text = rnd.parentText(names);
                char* answer =
                    host.dispatch(rnd.below(30) ? text.data() : nullptr, VORN_MSG_PARENT);
                if (answer) {
                    if (std::find(held.begin(), held.end(), answer) != held.end())
                        return where(step,
                                     "an answer buffer was given out again before it came back");
                    if (std::strlen(answer) == 0)
                        return where(step, "an empty answer buffer instead of none");
                    held.push_back(answer);
                }
                if (!held.empty() && rnd.below(3)) {
                    const std::size_t k =
                        static_cast<std::size_t>(rnd.below(static_cast<int>(held.size())));
                    host.dispatch(held[k], VORN_MSG_RELEASE);
                    held.erase(held.begin() + static_cast<std::ptrdiff_t>(k));
                }
                break;
            }
            case 4:
                if (rnd.below(2))
                    host.advance(rnd.below(25000));
                else
                    host.tick(rnd.number());
                break;
            case 5:
                host.dispatch(nullptr, VORN_MSG_RELEASE);
                break;
            case 6:
            case 7:
                host.message(type);
                break;
            default: {
                // Types the component must ignore: their data is never read.
                host.dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(1)), type);
                break;
            }
            }
            if (rnd.below(10) == 0) host.switchContact(rnd.number(), rnd.number(), rnd.below(2));
            if (!host.violations.empty()) return where(step, host.violations.front());
            if (host.outstandingReplies() != 0)
                return where(step, "a reply was kept after the call");
        }
        for (char* answer : held)
            host.dispatch(answer, VORN_MSG_RELEASE);
        host.destroy();
        const std::string problem = lifeProblems(host);
        if (!problem.empty()) return where(steps, problem);
    }
    return {};
}

} // namespace

int validatePlugin(const std::string& path, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err) {
    Plugin plugin;
    std::string error;
    if (!plugin.open(path, error)) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    if (!options.config.empty()) setEnvironment("VORN_CONFIG", absolutePath(options.config));
    const std::uint64_t seed =
        options.seedGiven ? options.seed
                          : static_cast<std::uint64_t>(
                                std::chrono::steady_clock::now().time_since_epoch().count()) %
                                1000000007ull;
    out << "validating " << path << "\nseed " << seed << " (replay with --seed " << seed << "), "
        << options.iterations << " random sequences\n"
        << std::flush;

    const std::pair<const char*, Check> tests[] = {
        {"reference life: exact commands, debug texts and answers",
         [&] { return referenceLife(plugin); }},
        {"1000 components created and deleted in a row",
         [&] { return createDeleteInARow(plugin); }},
        {"50 components alive at once, each independent", [&] { return fiftyAlive(plugin); }},
        {"a whole life with a null host client", [&] { return nullHostLife(plugin); }},
        {"random message sequences keep the host contract",
         [&] { return randomSequences(plugin, seed, options.iterations); }},
    };
    int passed = 0, failed = 0;
    for (const auto& [name, check] : tests) {
        const std::string problem = check();
        if (problem.empty()) {
            ++passed;
            out << "PASSED  " << name << "\n";
        } else {
            ++failed;
            out << "FAILED  " << name << ": " << problem << "\n";
        }
        out.flush();
    }
    out << passed << " passed, " << failed << " failed\n";
    return failed ? 1 : 0;
}
