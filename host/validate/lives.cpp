#include "lives.h"

#include "crash_report.h"
#include "sandbox.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>

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
    // The host's own words and separators, the component's names, and what breaks parsers.
    static const char* const pieces[] = {
        "",         ".",      "=",   "'",    " ",       "..",        "\xc3\xa9\xe2\x82\xac",
        "instance", "return", "all", "true", "FALSE",   "A",         "[value]",
        "%1",       "%2",     "\\",  "\t",   "_events", "_commands", "12 3"};
    const int known = static_cast<int>(words_.settings.size());
    std::string t;
    const int n = below(8);
    for (int i = 0; i < n; ++i) {
        if (known > 0 && below(5) == 0)
            t += words_.settings[static_cast<std::size_t>(below(known))].name;
        else
            t += pieces[below(static_cast<int>(sizeof pieces / sizeof *pieces))];
    }
    if (below(20) == 0) t += std::string(static_cast<std::size_t>(below(5000)), 'x');
    return t;
}

std::string Randomness::value(ComponentWords::Kind kind) {
    static const char* const truths[] = {"true", "false", "True", "FALSE", "", "yes", " true"};
    switch (kind) {
    case ComponentWords::Kind::Truth:
        return truths[below(7)];
    case ComponentWords::Kind::Number:
        return below(4) ? std::to_string(number()) : text();
    case ComponentWords::Kind::Text:
        break;
    }
    return below(4) ? text() : std::to_string(number());
}

std::string Randomness::parentText(const std::vector<std::string>& names) {
    const std::vector<ComponentWords::Entry>& settings = words_.settings;
    const int known = static_cast<int>(settings.size());
    const auto setting = [&]() -> const ComponentWords::Entry& {
        return settings[static_cast<std::size_t>(below(known))];
    };
    switch (below(8)) {
    case 0:
        return text();
    case 1:
    case 2:
        return std::string("instance=") +
               names[static_cast<std::size_t>(below(static_cast<int>(names.size())))];
    case 3: // a query: of a name it knows, of all, or of anything
        return std::string("return") + (below(5) ? "=" : "") +
               (known > 0 && below(2) ? setting().name
                : below(2)            ? "all"
                                      : text());
    case 4:
        return below(2) ? "_events" : "_commands";
    default: { // a setting it knows, with a value of its kind (or not), or a name it does not
        if (known == 0 || below(6) == 0) return text() + "=" + text();
        const ComponentWords::Entry& s = setting();
        return s.name + (below(8) ? "=" : "") +
               value(below(5) ? s.kind : ComponentWords::Kind::Text);
    }
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
            // Half of them for a contact of an instance the component may have bound to: each
            // contact of the range it registers, and the one after.
            std::int32_t device = rnd.number(), contact = rnd.number();
            if (rnd.below(2)) {
                const auto at =
                    std::next(life.facility.instances.begin(),
                              rnd.below(static_cast<int>(life.facility.instances.size())));
                device = at->second.device;
                contact = at->second.contact + rnd.below(rnd.words().contactsPerInstance + 1);
            }
            add(steps::Report{device, contact, rnd.below(3) ? rnd.below(2) : rnd.number()});
            break;
        }
        case 2: {
            // Three in four on a control the component has put, on its panel or another.
            static const char* const panels[] = {"1", "2", "01", "", "1 "};
            const auto& controls = rnd.words().controls;
            std::string panel = panels[rnd.below(5)], control = rnd.text();
            if (!controls.empty() && rnd.below(4)) {
                const auto& known = controls[static_cast<std::size_t>(
                    rnd.below(static_cast<int>(controls.size())))];
                control = known.second;
                if (rnd.below(3)) panel = known.first;
            }
            add(steps::Press{panel, control});
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

namespace {

// The lines of an answer, its line feeds taken away.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

} // namespace

void addSettings(const std::string& answer, std::vector<ComponentWords::Entry>& settings) {
    for (const std::string& line : linesOf(answer)) {
        const std::size_t equals = line.find('=');
        if (equals == 0 || equals == std::string::npos) continue;
        const std::string name = line.substr(0, equals), value = line.substr(equals + 1);
        ComponentWords::Kind kind = ComponentWords::Kind::Text;
        if (value == "true" || value == "false")
            kind = ComponentWords::Kind::Truth;
        else if (!value.empty() && value.find_first_not_of("-0123456789") == std::string::npos)
            kind = ComponentWords::Kind::Number;
        auto known = std::find_if(settings.begin(), settings.end(),
                                  [&](const ComponentWords::Entry& s) { return s.name == name; });
        if (known == settings.end())
            settings.push_back({name, kind});
        else if (kind != ComponentWords::Kind::Text) // "[value]" says nothing of the kind
            known->kind = kind;
    }
}

ComponentWords learnWords(const Plugin& plugin) {
    ComponentWords words;
    Facility facility;
    facility.instances["A"] = FacilityInstance{12, 3, "", std::nullopt};
    EmulatedHost host(facility);
    crashReportSet("learning its words (create, _commands, _events, return=all, instance=A)");
    if (!host.create(plugin, "")) return words;
    const std::string asked[] = {"_commands", "_events", "return=all", "instance=A"};
    for (const std::string& text : asked) {
        host.parentCommand(&text);
        host.deliverPending(100);
    }
    std::vector<std::string> answers;
    for (const HostEvent& e : host.events)
        if (e.kind == HostEvent::Answer) answers.push_back(e.text);
    answers.resize(3);
    addSettings(answers[0], words.settings);
    addSettings(answers[2], words.settings);
    for (const std::string& line : linesOf(answers[1]))
        if (!line.empty()) words.events.push_back(line.substr(0, line.find('=')));
    for (const auto& [panel, controls] : host.panels)
        for (const auto& control : controls)
            words.controls.emplace_back(panel, control.first);
    for (const auto& [device, first, last] : host.registrations())
        if (device == 12 && first == 3 && last >= first && last - first < 64)
            words.contactsPerInstance = std::max(words.contactsPerInstance, last - first + 1);
    host.destroy();
    crashReportClear();
    return words;
}

LifeRun::LifeRun(std::shared_ptr<const Plugin> plugin, const Life& life, int part,
                 std::chrono::milliseconds stepLimit)
    : life_(life), session_(std::move(plugin), life.facility), part_(part), stepLimit_(stepLimit) {}

void LifeRun::step() {
    if (done()) return;
    sandboxProgress();
    ++next_;
    if (part_ >= 0) {
        std::string what = life_.name + ", step " + std::to_string(next_) + " ";
        if (next_ > life_.steps.size()) {
            what += "(its end: the answers it kept handed back, then deleted)";
        } else {
            std::string line = formatStep(life_.steps[next_ - 1]);
            if (line.size() > 80) line = line.substr(0, 77) + "...";
            what += "'" + line + "'";
        }
        crashReportSet(what.c_str(), part_, static_cast<int>(next_));
        crashReportLimit(stepLimit_);
    }
    if (next_ > life_.steps.size())
        take(session_.end()); // hands back the answers it kept first
    else
        take(session_.apply(life_.steps[next_ - 1]));
    if (part_ >= 0) crashReportLimit(std::chrono::milliseconds(0));
}

void LifeRun::finish() {
    while (!done())
        step();
}

namespace {
const char* const eventWords[] = {"command", "debug", "answer", "delivered"};
} // namespace

void LifeRun::take(const std::vector<StepFailure>& failures) {
    if (const EmulatedHost* host =
            session_.members().empty() ? nullptr : session_.members().front().host.get())
        for (const HostEvent& e : host->events)
            transcript_.push_back(std::string(eventWords[e.kind]) + " " + escape(e.text));
    if (!failures.empty() && problem_.empty()) {
        failure_ = failures.front();
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

void writeInstances(std::ostream& out, const Facility& facility, const std::string& label) {
    for (const auto& [name, instance] : facility.instances) {
        out << "[instances." << name << "]\ndevice = " << instance.device
            << "\ncontact = " << instance.contact << "\n";
        if (!label.empty()) out << "idtext = " << label << "\n";
        if (instance.reply) out << "reply = \"" << *instance.reply << "\"\n";
    }
}
