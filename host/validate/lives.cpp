#include "lives.h"

#include "sandbox.h"

#include <climits>
#include <cstdlib>
#include <fstream>

std::int32_t Randomness::number() {
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
std::string Randomness::text() {
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
std::string Randomness::parentText(const std::vector<std::string>& names) {
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
std::string Randomness::reply() {
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

Life randomLife(Randomness& rnd) {
    Life life;
    std::vector<std::string> names = {"", "A", "it's", "x y"};
    for (const std::string& name : names) {
        FacilityInstance instance{1 + rnd.below(999), 1 + rnd.below(999), rnd.text(), std::nullopt};
        if (rnd.below(2)) instance.reply = rnd.reply();
        life.facility.instances[name] = instance;
    }
    names.push_back("unknown");
    auto add = [&](StepKind kind) { life.steps.push_back(Step{std::move(kind), "", 0}); };
    add(steps::Create{rnd.below(2) ? "" : rnd.text()});
    const int count = 20 + rnd.below(60);
    for (int i = 0; i < count; ++i) {
        const int type = rnd.below(11) - 1; // -1 to 9
        switch (type) {
        case 1: {
            const std::int32_t device = rnd.number(), contact = rnd.number();
            add(steps::Report{device, contact, rnd.below(3) ? rnd.below(2) : rnd.number()});
            break;
        }
        case 2: {
            static const char* const panels[] = {"1", "2", "01", "", "1 "};
            const std::string panel = panels[rnd.below(5)];
            add(steps::Press{panel, rnd.below(4) ? "MyContact_Tile" : rnd.text()});
            break;
        }
        case 3: {
            // Its answer kept, and handed back at once or later (or at the component's end).
            std::string text = rnd.parentText(names);
            if (rnd.below(30) == 0)
                add(steps::Message{3}); // null data
            else
                add(steps::Hold{std::move(text)});
            if (rnd.below(3)) add(steps::Release{rnd.below(1 << 20)});
            break;
        }
        case 4:
            if (rnd.below(2))
                add(steps::Advance{{rnd.below(25000)}});
            else
                add(steps::Tick{rnd.number()});
            break;
        default: // 5 with null data; 6 and 7; and types the component must ignore: -1, 0, 8, 9
            add(steps::Message{type});
            break;
        }
        if (rnd.below(10) == 0) {
            const std::int32_t device = rnd.number(), contact = rnd.number();
            add(steps::Switch{device, contact, rnd.below(2)});
        }
    }
    return life;
}

LifeRun::LifeRun(std::shared_ptr<const Plugin> plugin, const Life& life)
    : life_(life), session_(std::move(plugin), life.facility) {}

void LifeRun::step() {
    if (done()) return;
    sandboxProgress();
    if (next_ == life_.steps.size()) {
        ++next_;
        take(session_.end()); // hands back the answers it kept first
        return;
    }
    ++next_;
    take(session_.apply(life_.steps[next_ - 1]));
}

void LifeRun::finish() {
    while (!done())
        step();
}

void LifeRun::take(const std::vector<StepFailure>& failures) {
    if (const EmulatedHost* host =
            session_.members().empty() ? nullptr : session_.members().front().host.get())
        for (const HostEvent& e : host->events)
            transcript_.push_back(std::to_string(e.kind) + " " + e.text);
    if (!failures.empty() && problem_.empty()) {
        problem_ = "step " + std::to_string(next_) + ": " + failures.front().text();
        failedStep_ = next_;
    }
}

std::string temporaryFolder() {
#ifdef _WIN32
    if (const char* t = std::getenv("TEMP")) return t;
#else
    if (const char* t = std::getenv("TMPDIR")) return t;
#endif
    return "/tmp";
}

std::string shellWord(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

std::string writeReplay(const Life& life, const std::string& plugin, std::uint64_t seed, int index,
                        std::size_t failedStep, const std::string& problem) {
    const std::string dir = temporaryFolder();
    const std::string stem =
        "vorn-validate-" + std::to_string(seed) + "-life" + std::to_string(index);
    const std::string ini = dir + "/" + stem + ".ini", vorn = dir + "/" + stem + ".vorn";
    std::ofstream config(ini);
    config << "# The facility of life " << index << " of seed " << seed << ".\n";
    // No labels: the check ran with an empty configuration, and so does the replay.
    for (const auto& [name, instance] : life.facility.instances) {
        config << "[instances." << name << "]\ndevice = " << instance.device
               << "\ncontact = " << instance.contact << "\n";
        if (instance.reply) config << "reply = \"" << *instance.reply << "\"\n";
    }
    auto comment = [](const std::string& text) { return Step{steps::Comment{" " + text}, "", 0}; };
    std::vector<Step> script = {
        comment("Written by vorn-host validate: life " + std::to_string(index) + " of seed " +
                std::to_string(seed) + ", which failed the check 'random'."),
        comment("Replay: vorn-host run --plugin " + shellWord(plugin) + " " + shellWord(vorn)),
        Step{steps::Config{stem + ".ini"}, "", 0}};
    const std::size_t ran = std::min(failedStep, life.steps.size());
    script.insert(script.end(), life.steps.begin(),
                  life.steps.begin() + static_cast<std::ptrdiff_t>(ran));
    if (failedStep > life.steps.size()) {
        script.push_back(Step{steps::Delete{}, "", 0});
        script.push_back(comment("The check found: " + escape(problem)));
    } else {
        script.push_back(comment("The check found here: " + escape(problem)));
    }
    std::ofstream out(vorn);
    out << formatScript(script);
    return out && config ? vorn : std::string();
}
