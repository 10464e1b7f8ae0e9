#include "panel.h"

#include "crash_report.h"
#include "vorn_file.h"
#include "vorn_ini.h"

#include <algorithm>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>

using nlohmann::json;

namespace {

constexpr std::size_t keptLines = 5000;     // the transcript the page can still fetch
constexpr std::size_t shownLines = 200;     // of one step's, in the transcript
constexpr std::size_t keptBytes = 64 << 20; // the steps a restart runs again, and the recording

// How the panel looks now: each tile as the panel client shows it, and the facility's contacts.
json view(Session& session) {
    json tiles = json::array();
    for (const Session::Member& m : session.members()) {
        const EmulatedHost& h = *m.host;
        auto property = [&](const char* name) -> json {
            const std::string* value = h.property(name);
            return value ? json(*value) : json(nullptr);
        };
        const std::string notify = h.notifications.empty() ? "" : h.notifications.back();
        json bound = json::array();
        for (const auto& [device, first, last] : h.registrations())
            bound.push_back({device, first, last});
        // The last of each notification it sent ("NAME=VALUE"), in the order they first came.
        json notifications = json::array();
        for (const std::string& n : h.notifications) {
            const std::string name = n.substr(0, n.find('='));
            const std::string value = n.size() > name.size() ? n.substr(name.size() + 1) : "";
            auto known = std::find_if(notifications.begin(), notifications.end(),
                                      [&](const json& j) { return j["name"] == name; });
            if (known == notifications.end())
                notifications.push_back({{"name", name}, {"value", value}});
            else
                (*known)["value"] = value;
        }
        json properties = json::object();
        if (auto panel = h.panels.find(h.lastPanel); panel != h.panels.end())
            if (auto control = panel->second.find(h.lastControl); control != panel->second.end())
                for (const auto& [name, value] : control->second)
                    properties[name] = value;
        tiles.push_back({
            {"name", m.name},
            {"alive", h.alive()},
            {"created", m.created},
            {"ended", h.ended},
            {"label", property("text")},
            {"style", property("style")},
            {"stylesheet", property("stylesheet")},
            {"statesheet", property("statesheet")},
            {"panel", h.lastPanel},
            {"control", h.lastControl},
            {"notify", h.notifications.empty() ? json(nullptr) : json(notify)},
            {"notifications", notifications},
            {"properties", properties},
            {"instance", h.lastLookup},
            {"bound", bound},
            {"reports", h.reportsDelivered},
        });
    }
    // The facility's contacts: those it knows a state of, and every contact of every range a
    // component registered (at most 64 of a range), each named by the instances that stand for
    // it: an instance's own contact, and those after it in a range registered from it.
    const Facility& facility = session.facility();
    std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> known = facility.contacts();
    std::map<std::pair<std::int32_t, std::int32_t>, std::set<std::string>> names;
    for (const Session::Member& m : session.members())
        for (const auto& [device, first, last] : m.host->registrations())
            for (std::int64_t c = first; c <= last && c < std::int64_t{first} + 64; ++c) {
                const auto where = std::make_pair(device, static_cast<std::int32_t>(c));
                known.emplace(where, facility.state(where.first, where.second));
                for (const auto& [name, instance] : facility.instances)
                    if (!instance.reply && instance.device == device && instance.contact == first)
                        names[where].insert(name);
            }
    json contacts = json::array();
    for (const auto& [where, state] : known) {
        std::set<std::string>& named = names[where];
        for (const auto& [name, instance] : facility.instances)
            if (!instance.reply && instance.device == where.first &&
                instance.contact == where.second)
                named.insert(name);
        contacts.push_back({{"device", where.first},
                            {"contact", where.second},
                            {"state", state},
                            {"names", json(std::vector<std::string>(named.begin(), named.end()))}});
    }
    json instances = json::array();
    for (const auto& [name, instance] : session.facility().instances)
        instances.push_back(name);
    return {
        {"tiles", tiles}, {"contacts", contacts}, {"instances", instances}, {"now", session.now()}};
}

// What the page is told of the panel after a step: only what changed since the step before,
// so that a step of one tile on a panel of hundreds sends one tile. "order": every tile's
// name, in order; "tiles": those that changed; "contacts" and "instances" when they changed.
class ViewChanges {
public:
    json after(Session& session) {
        json full = view(session);
        json changes = {{"order", json::array()}, {"tiles", json::array()}, {"now", full["now"]}};
        std::map<std::string, std::string> seen;
        for (json& t : full["tiles"]) {
            const std::string name = t["name"], text = t.dump();
            changes["order"].push_back(name);
            auto was = tiles_.find(name);
            if (was == tiles_.end() || was->second != text)
                changes["tiles"].push_back(std::move(t));
            seen.emplace(name, text);
        }
        tiles_ = std::move(seen);
        for (const char* part : {"contacts", "instances"}) {
            std::string text = full[part].dump();
            if (text != parts_[part]) {
                changes[part] = std::move(full[part]);
                parts_[part] = std::move(text);
            }
        }
        return changes;
    }

private:
    std::map<std::string, std::string> tiles_; // each tile as last told
    std::map<std::string, std::string> parts_;
};

// What runs, as a crash report names it.
std::string stepWhere(const std::string& line) {
    return "the step '" + line + "'";
}

// A silence's reason as the page reads it.
const char* reasonName(Silence::Reason reason) {
    static const char* const names[] = {"nothing",       "no-timer-due",  "not-registered",
                                        "other-contact", "no-report-yet", "other-control",
                                        "press-ignored"};
    return names[reason];
}

// One step in the child: what it did, and the panel after it. The transcript's lines of one
// step are kept to shownLines (a clock step can make a hundred thousand); the recording's
// expectations are all there.
json answer(Session& session, ViewChanges& changes, const std::string& line) {
    if (line == "?") return {{"view", changes.after(session)}};
    // A scenario replayed on the page is held to its expectations as 'run' holds it, from
    // "?strict" to "?loose"; what it left unchecked fails at the end.
    if (line == "?strict" || line == "?loose") {
        json problems = json::array();
        for (const StepFailure& f : session.closeGroup())
            problems.push_back((f.line ? "line " + std::to_string(f.line) + ": " : "") + f.text());
        session.setStrict(line == "?strict");
        return {{"failures", problems}, {"view", changes.after(session)}};
    }
    std::string error;
    const std::optional<Step> step = parseStep(line, 0, error);
    if (!step) return {{"error", error.empty() ? "no step" : error}};
    crashReportSet(stepWhere(line).c_str());
    // A step for a component that is not alive is refused before it runs: it is not recorded,
    // so a downloaded recording never holds a step that fails at its replay.
    const bool refused = step->row().needs == StepRow::Component && !session.alive(step->component);
    const std::vector<StepFailure> failures = session.apply(*step);
    json lines = json::array(), answers = json::array();
    std::size_t more = 0;
    // An expectation makes nothing happen: what the step before it did was shown with that step.
    if (!step->isExpectation())
        for (const Session::Member& m : session.members()) {
            for (const std::string& text : splitLines(transcript(*m.host, m.stepStart))) {
                if (lines.size() < shownLines)
                    lines.push_back({{"tile", m.name}, {"text", text}});
                else
                    ++more;
            }
            for (std::size_t i = m.stepStart; i < m.host->events.size(); ++i)
                if (const HostEvent& e = m.host->events[i]; e.kind == HostEvent::Answer)
                    answers.push_back(
                        {{"tile", m.name}, {"text", e.hasReply ? json(e.text) : json()}});
        }
    if (more > 0)
        lines.push_back({{"tile", ""},
                         {"text", "  ... " + std::to_string(more) +
                                      " lines more of this step (the recording has them all)"}});
    json problems = json::array();
    for (const StepFailure& f : failures)
        problems.push_back(f.text());
    json expectations = json::array();
    bool quiet = true; // no component did anything an expectation checks
    if (!step->isExpectation())
        for (const Step& e : session.expectations()) {
            expectations.push_back(formatStep(e));
            quiet = quiet && std::holds_alternative<steps::ExpectNothing>(e.kind);
        }
    const std::optional<Silence> silence = session.silence(*step);
    return {{"lines", lines},
            {"refused", refused},
            {"answers", answers},
            {"failures", problems},
            {"expectations", expectations},
            {"quiet", quiet},
            {"silence", silence ? json{{"reason", reasonName(silence->reason)},
                                       {"panel", silence->panel},
                                       {"control", silence->control},
                                       {"text", silence->text()}}
                                : json()},
            {"view", changes.after(session)}};
}

// A configuration's sections with their attributes, in the order the file gives them: a panel's
// tiles are drawn, and their settings sent, as the file lists them. A section or an attribute
// given twice keeps where it first stood and takes its last value, as the reader does.
struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

std::vector<Section> sectionsInOrder(const std::string& text) {
    std::vector<Section> sections;
    Section* current = nullptr;
    vorn_ini::scan(text.data(), text.size(), [&](const vorn_ini::Line& line) {
        if (line.kind == vorn_ini::Line::Section) {
            const std::string name(line.name, line.nameSize);
            auto known = std::find_if(sections.begin(), sections.end(),
                                      [&](const Section& s) { return s.name == name; });
            current = known != sections.end() ? &*known : &sections.emplace_back(Section{name, {}});
        } else if (line.kind == vorn_ini::Line::Attribute && current) {
            const std::string key(line.name, line.nameSize), value(line.value, line.valueSize);
            auto known = std::find_if(current->attributes.begin(), current->attributes.end(),
                                      [&](const auto& a) { return a.first == key; });
            if (known != current->attributes.end())
                known->second = value;
            else
                current->attributes.emplace_back(key, value);
        }
    });
    return sections;
}

// A tile's name from an instance's: what the step language takes after '@'.
std::string tileName(const std::string& instance) {
    std::string name;
    for (unsigned char c : instance)
        name += isComponentNameCharacter(c) ? static_cast<char>(c) : '_';
    return name.empty() ? "tile" : name;
}

} // namespace

namespace {
std::vector<std::string> imagesIn(const std::string& folder);
} // namespace

void servePanelSession(const SessionOptions& options, SandboxChildSide& side) {
    Session session(options);
    ViewChanges changes;
    SandboxMessage ask;
    while (side.receive(ask))
        if (!side.send(
                {{"type", "answer"}, {"value", answer(session, changes, ask.value("step", ""))}}))
            break;
    // The input ended: the components end as the host ends them when it closes.
    session.end();
}

namespace {
// The child's job: the panel's session, for as long as the parent keeps it.
const SandboxJobType panelJob{
    "panel", [](const SandboxMessage& job, SandboxChildSide& side) {
#ifndef _WIN32
        signal(SIGINT, SIG_IGN); // Ctrl-C is the server's, which ends this child in its turn
#endif
        servePanelSession(SessionOptions{job.value("plugin", ""), job.value("name", "")}, side);
    }};
} // namespace

Panel::Panel(PanelOptions options)
    : options_(std::move(options)), childName_(options_.session.name) {}

Panel::~Panel() {
    close();
}

void Panel::close() {
    {
        std::lock_guard<std::mutex> lock(viewMutex_);
        closed_ = true;
        change_.notify_all();
    }
    std::lock_guard<std::mutex> lock(sessionMutex_);
    child_.stop();
}

void Panel::changed() {
    ++version_;
    change_.notify_all();
}

std::string Panel::crashed() {
    std::lock_guard<std::mutex> lock(viewMutex_);
    return crash_;
}

void Panel::note(const std::string& tile, const std::string& text, const std::string& kind,
                 json fields) {
    transcript_.push_back({tile, text, kind, std::move(fields)});
    if (transcript_.size() > keptLines) {
        transcript_.pop_front();
        ++firstLine_;
    }
}

void Panel::quietTime(std::int64_t ms) {
    // The step's own line is the last; the one before it may be quiet time already.
    std::int64_t total = ms;
    if (transcript_.size() >= 2) {
        const Line& before = transcript_[transcript_.size() - 2];
        if (before.kind == "quiet" && before.fields.is_object()) {
            total += before.fields.value("ms", std::int64_t{0});
            transcript_.pop_back();
        }
    }
    Line& line = transcript_.back();
    line.kind = "quiet";
    line.text = formatStep(Step{steps::Advance{{total}}, "", 0}) + " (nothing happened)";
    line.fields = {{"ms", total}};
}

bool Panel::startChild(std::string& error) {
    // The file as the child will load it: a later change is a rebuild the page offers to load.
    if (!vorn_file_stat(options_.session.plugin.c_str(), built_)) built_ = vorn_file_version{};
    {
        std::lock_guard<std::mutex> lock(viewMutex_);
        rebuilt_ = false;
    }
    if (child_.start(panelJob, {{"plugin", options_.session.plugin}, {"name", childName_}},
                     "the web panel's session"))
        return true;
    error = "cannot start the session's process: " + child_.outcome().describe();
    return false;
}

bool Panel::ask(const std::string& step, json& answer) {
    SandboxMessage reply;
    child_.doing(stepWhere(step));
    if (!child_.send({{"type", "ask"}, {"step", step}})) return false;
    while (child_.receive(reply, SandboxLimits{0, options_.stepSeconds, true}))
        if (reply["type"] == "answer") {
            answer = reply["value"];
            return true;
        }
    return false;
}

bool Panel::begin(std::string& error) {
    std::vector<std::string> images = imagesIn(folder());
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        files_ = std::move(images);
    }
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return startPanel(error);
}

bool Panel::startPanel(std::string& error) {
    header_ = "# Recorded by vorn-host serve: each step, then all it made the components do.\n";
    if (!options_.session.plugin.empty())
        header_ += "# Replay: vorn-host run --plugin " + options_.session.plugin + " FILE\n";
    if (!startChild(error)) return false;
    std::vector<std::string> steps;
    if (!options_.config.empty()) {
        const std::string path = absolutePath(options_.config);
        steps.push_back(formatStep(Step{steps::Config{path}, "", 0}));
        // The panel's tiles: its [tiles.NAME] sections (instance = NAME, and settings), else
        // one tile for each instance.
        vorn_file_version version;
        std::string text;
        if (!vorn_file_stat(path.c_str(), version) ||
            vorn_file_read_whole(path.c_str(), SIZE_MAX, version, text) != vorn_file_read::Read) {
            error = options_.config + ": cannot read the file";
            return false;
        }
        const std::vector<Section> sections = sectionsInOrder(text);
        bool listed = false;
        for (const Section& section : sections) {
            if (section.name.rfind("tiles.", 0) != 0) continue;
            listed = true;
            const std::string name = tileName(section.name.substr(6));
            steps.push_back("@" + name + " create");
            std::string instance;
            for (const auto& [key, value] : section.attributes) {
                if (key == "instance")
                    instance = value;
                else
                    steps.push_back(formatStep(Step{steps::Parent{key + "=" + value}, name, 0}));
            }
            if (!instance.empty())
                steps.push_back(formatStep(Step{steps::Parent{"instance=" + instance}, name, 0}));
        }
        if (!listed)
            for (const Section& section : sections) {
                if (section.name.rfind("instances.", 0) != 0) continue;
                const std::string instance = section.name.substr(10), name = tileName(instance);
                steps.push_back("@" + name + " create");
                steps.push_back(formatStep(Step{steps::Parent{"instance=" + instance}, name, 0}));
            }
    }
    if (steps.empty()) steps.push_back("create");
    for (const std::string& step : steps) {
        const PanelAnswer a = run(step, true);
        const std::string crash = crashed();
        if (a.status != 200 || !crash.empty()) {
            error = a.message.empty() ? crash : a.message;
            return false;
        }
    }
    return true;
}

void Panel::keep(const std::string& text, const Step& step) {
    // Seconds of the running clock are one step to run again.
    const auto* advance = std::get_if<steps::Advance>(&step.kind);
    if (advance && step.component.empty() && lastRanAdvance_ > 0 && !ran_.empty()) {
        heldBytes_ -= ran_.back().size();
        lastRanAdvance_ += advance->by.ms;
        ran_.back() = formatStep(Step{steps::Advance{{lastRanAdvance_}}, "", 0});
    } else {
        ran_.push_back(text);
        lastRanAdvance_ = advance && step.component.empty() ? advance->by.ms : 0;
    }
    heldBytes_ += ran_.back().size();
}

PanelAnswer Panel::run(const std::string& line, bool record) {
    std::string error;
    const std::optional<Step> step = parseStep(line, 0, error);
    if (!step) return {400, error.empty() ? "no step: the line is blank" : error};
    if (step->isComment()) return {};
    const std::string crash = crashed();
    if (!crash.empty()) return {409, crash + "; restart the session first"};
    const std::string text = formatStep(*step);
    if (heldBytes_ + text.size() > keptBytes)
        return {507, "the session holds " + std::to_string(heldBytes_ >> 20) +
                         " MiB of steps, its limit: download the recording, and open it to go on"};
    {
        std::lock_guard<std::mutex> lock(viewMutex_);
        note(step->component, text, "step");
        stepSince_ = std::chrono::steady_clock::now();
        stepRunning_ = true;
        changed();
    }
    // However the step ends, the page is told of its end.
    struct Ended {
        Panel& panel;
        ~Ended() {
            std::lock_guard<std::mutex> lock(panel.viewMutex_);
            panel.stepRunning_ = false;
            panel.change_.notify_all();
        }
    } ended{*this};
    json a;
    if (!ask(text, a)) {
        std::lock_guard<std::mutex> lock(viewMutex_);
        crash_ = child_.outcome().describe();
        allTilesChanged(); // each is told again, not alive
        note(step->component, crash_, "crash");
        changed();
        return {200, crash_, {{"step", text}, {"crash", crash_}}};
    }
    std::lock_guard<std::mutex> lock(viewMutex_);
    if (!a.is_object() || a.contains("error")) {
        const std::string why =
            !a.is_object() ? "an answer that is not an object" : a["error"].get<std::string>();
        note("", why, "failure");
        changed();
        return {400, why};
    }
    const auto* advance = std::get_if<steps::Advance>(&step->kind);
    // The clock's time in which nothing happened is one line, however many steps it took.
    if (advance && step->component.empty() && a["lines"].empty() && a["answers"].empty() &&
        a["failures"].empty())
        quietTime(advance->by.ms);
    else {
        for (const json& l : a["lines"])
            note(l["tile"].get<std::string>(), l["text"].get<std::string>(), "event");
        for (const json& answer : a["answers"])
            note(answer["tile"].get<std::string>(), "", "answer", {{"answer", answer["text"]}});
        if (a["silence"].is_object())
            note(step->component, a["silence"]["text"].get<std::string>(), "event",
                 {{"silence", a["silence"]}});
    }
    std::string failures;
    for (const json& f : a["failures"]) {
        note(step->component, f.get<std::string>(), "failure");
        failures += f.get<std::string>() + "\n";
    }
    merge(a["view"]);
    const bool refused = a.value("refused", false);
    if (!refused) keep(text, *step);
    ranSteps_ = ran_.size();
    if (record && !refused && !step->isExpectation()) {
        Entry entry;
        entry.step = text;
        for (const json& e : a["expectations"])
            entry.expectations += e.get<std::string>() + "\n";
        if (advance && a.value("quiet", false)) entry.silentAdvance = advance->by.ms;
        // Seconds of the running clock in which nothing happened are one step.
        if (entry.silentAdvance > 0 && !recording_.empty() && recording_.back().silentAdvance > 0 &&
            recording_.back().expectations == entry.expectations) {
            Entry& last = recording_.back();
            heldBytes_ -= last.step.size();
            last.silentAdvance += entry.silentAdvance;
            last.step = formatStep(Step{steps::Advance{{last.silentAdvance}}, step->component, 0});
            heldBytes_ += last.step.size();
        } else {
            heldBytes_ += entry.step.size() + entry.expectations.size();
            recording_.push_back(entry);
        }
    }
    changed();
    // What a script is told: the step's transcript lines, the answers it had, its failures.
    json done = {{"step", text},
                 {"refused", refused},
                 {"lines", a["lines"]},
                 {"answers", a["answers"]},
                 {"failures", a["failures"]}};
    return {200, failures, std::move(done)};
}

PanelAnswer Panel::act(const std::string& line) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return run(line, true);
}

PanelAnswer Panel::actOn(const json& request) {
    std::string error;
    const std::optional<Step> step = stepOf(request, error);
    if (!step) return {400, error};
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return run(formatStep(*step), true);
}

PanelAnswer Panel::press(const std::string& tile) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    std::string panel = "1", control = tile;
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        const json t = tileView(tile);
        if (t.is_null()) return {404, "no tile named '" + escape(tile) + "'"};
        // Where the component last said it stands; a component that never said is pressed
        // where the page presses it.
        if (t.value("panel", "") != "") panel = t["panel"];
        if (t.value("control", "") != "") control = t["control"];
    }
    return run(formatStep(Step{steps::Press{panel, control}, tile, 0}), true);
}

json Panel::tileView(const std::string& name) const {
    auto t = tiles_.find(name);
    return t == tiles_.end() ? json(nullptr) : t->second.tile;
}

void Panel::merge(const json& changes) {
    if (!changes.is_object() || !changes["order"].is_array()) return;
    ++viewVersion_;
    std::vector<std::string> order;
    for (const json& name : changes["order"])
        order.push_back(name.get<std::string>());
    if (order != order_) {
        order_ = std::move(order);
        for (auto t = tiles_.begin(); t != tiles_.end();)
            t = std::find(order_.begin(), order_.end(), t->first) == order_.end() ? tiles_.erase(t)
                                                                                  : std::next(t);
    }
    for (const json& t : changes["tiles"])
        tiles_[t["name"].get<std::string>()] = {t, viewVersion_};
    for (const char* part : {"contacts", "instances"})
        if (changes.contains(part)) parts_[part] = {changes[part], viewVersion_};
    now_ = changes.value("now", now_);
}

void Panel::allTilesChanged() {
    ++viewVersion_;
    for (auto& [name, t] : tiles_)
        t.version = viewVersion_;
}

json Panel::tile(const std::string& name) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    json t = tileView(name);
    if (!t.is_null() && !crash_.empty()) t["alive"] = false;
    return t;
}

json Panel::facilityView() {
    std::lock_guard<std::mutex> lock(viewMutex_);
    json f = json::object();
    for (const char* key : {"contacts", "instances"})
        f[key] = parts_.count(key) ? parts_[key].value : json::array();
    f["now"] = now_;
    f["clock"] = clockRunning_ ? "running" : "paused";
    f["crash"] = crash_.empty() ? json(nullptr) : json(crash_);
    f["rebuilt"] = rebuilt_;
    return f;
}

void Panel::forget() {
    ran_.clear();
    lastRanAdvance_ = 0;
    heldBytes_ = 0;
    for (const Entry& e : recording_)
        heldBytes_ += e.step.size() + e.expectations.size();
}

PanelAnswer Panel::restart() {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    std::string error;
    child_.stop();
    bool wasRebuilt = false;
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        crash_.clear();
        wasRebuilt = rebuilt_;
    }
    if (!startChild(error)) return {500, error};
    // The steps before the crash run again, quietly: the session is back where it was.
    const std::vector<std::string> steps = std::move(ran_);
    forget();
    std::size_t again = 0;
    for (const std::string& step : steps) {
        json a;
        if (!ask(step, a)) break;
        ran_.push_back(step);
        heldBytes_ += step.size();
        ++again;
        if (a.is_object() && a.contains("view")) {
            std::lock_guard<std::mutex> lockView(viewMutex_);
            merge(a["view"]);
        }
    }
    std::lock_guard<std::mutex> lockView(viewMutex_);
    note("",
         "restarted: " + std::to_string(again) + " steps run again" +
             (wasRebuilt ? " on the rebuilt plug-in file" : ""),
         "step");
    changed();
    return {};
}

PanelAnswer Panel::backToPanel() {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    child_.stop();
    childName_ = options_.session.name;
    recording_.clear();
    forget();
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        crash_.clear();
        clockRunning_ = true;
        note("", "back to the configuration's panel", "step");
        changed();
    }
    std::string error;
    if (!startPanel(error)) return {500, error};
    return {};
}

PanelAnswer Panel::replay(const std::string& text, const std::string& name) {
    const Script script = parseScript(splitLines(text));
    if (!script.errors.empty()) {
        std::string all;
        for (const std::string& e : script.errors)
            all += "line " + e + "\n";
        return {400, all};
    }
    std::lock_guard<std::mutex> lock(sessionMutex_);
    std::string error;
    child_.stop();
    recording_.clear();
    forget();
    // The files it names are found from its own folder: a file opened on the page is taken to
    // be in the panel's folder, since a browser does not say where it was.
    childName_ =
        name.empty() ? options_.session.name : (folder().empty() ? name : folder() + "/" + name);
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        crash_.clear();
        clockRunning_ = false; // a replay runs as written, with no second passing meanwhile
        note("", "replaying a scenario of " + std::to_string(script.steps.size()) + " lines",
             "step");
        changed();
    }
    if (!startChild(error)) return {500, error};
    std::string failures;
    json a;
    if (!ask("?strict", a)) return {500, child_.outcome().describe()};
    for (const Step& step : script.steps) {
        if (step.isComment()) continue;
        const PanelAnswer one = run(formatStep(step), true);
        for (const std::string& f : splitLines(one.message))
            if (!f.empty()) failures += "line " + std::to_string(step.line) + ": " + f + "\n";
        if (!crashed().empty()) return {200, failures};
    }
    if (ask("?loose", a) && a.is_object()) {
        std::lock_guard<std::mutex> view(viewMutex_);
        for (const json& f : a["failures"]) {
            note("", f.get<std::string>(), "failure");
            failures += f.get<std::string>() + "\n";
        }
        changed();
    }
    return {200, failures};
}

void Panel::setClockRunning(bool running) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    clockRunning_ = running;
    changed();
}

namespace {
// The images of the panel's folder and of the folders in it (two levels), by their paths from
// it with '/': the files a style sheet's url(...) may name. At most 500.
std::vector<std::string> imagesIn(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    if (folder.empty()) return found;
    std::error_code error;
    fs::recursive_directory_iterator it(fs::u8path(folder),
                                        fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator() && found.size() < 500;
         it.increment(error)) {
        if (it.depth() >= 2) it.disable_recursion_pending();
        std::string extension = it->path().extension().u8string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!it->is_regular_file(error) || !isImageExtension(extension)) continue;
        found.push_back(it->path().lexically_relative(fs::u8path(folder)).generic_u8string());
    }
    std::sort(found.begin(), found.end());
    return found;
}
} // namespace

bool isImageExtension(const std::string& extension) {
    return extension == ".png" || extension == ".jpg" || extension == ".jpeg" ||
           extension == ".gif" || extension == ".svg" || extension == ".bmp" ||
           extension == ".webp";
}

bool Panel::hasFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    return std::find(files_.begin(), files_.end(), path) != files_.end();
}

std::string Panel::folder() const {
    const std::string& from = !options_.config.empty() ? options_.config : options_.session.name;
    if (from.empty()) return {};
    return std::filesystem::path(std::filesystem::u8path(absolutePath(from)))
        .parent_path()
        .u8string();
}

void Panel::secondPassed() {
    std::vector<std::string> images = imagesIn(folder());
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        if (images != files_) {
            files_ = std::move(images);
            changed();
        }
    }
    std::lock_guard<std::mutex> lock(sessionMutex_);
    vorn_file_version now;
    const bool changedFile =
        vorn_file_stat(options_.session.plugin.c_str(), now) && !(now == built_) && built_.regular;
    {
        std::lock_guard<std::mutex> view(viewMutex_);
        if (changedFile && !rebuilt_) {
            rebuilt_ = true;
            changed();
        }
        if (!clockRunning_ || !crash_.empty() || closed_) return;
    }
    run("advance 1s", true);
}

std::string Panel::recording() {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    std::string text = header_;
    for (const Entry& e : recording_)
        text += e.step + "\n" + e.expectations;
    return text;
}

json Panel::state(std::int64_t since, std::int64_t changesSince, bool withView) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    json lines = json::array();
    const std::int64_t next = firstLine_ + static_cast<std::int64_t>(transcript_.size());
    // The last line is sent again each time: quiet time grows in it. A page replaces a line it
    // has by its number, and drops those from "next" on (a line taken back into quiet time).
    const std::int64_t from = std::max(std::min(since, next - 1), firstLine_);
    for (std::int64_t n = from; n < firstLine_ + static_cast<std::int64_t>(transcript_.size());
         ++n) {
        const Line& l = transcript_[static_cast<std::size_t>(n - firstLine_)];
        json line = {{"n", n}, {"tile", l.tile}, {"text", l.text}, {"kind", l.kind}};
        if (l.fields.is_object()) line.update(l.fields);
        lines.push_back(std::move(line));
    }
    json s = json::object();
    if (withView) {
        // Every tile, or those that changed after changesSince (a page that has the rest).
        s["full"] = changesSince < 0;
        s["order"] = order_;
        json tiles = json::array();
        for (const std::string& name : order_) {
            const TileView& t = tiles_[name];
            if (changesSince >= 0 && t.version <= changesSince) continue;
            tiles.push_back(t.tile);
            // The child that held the components has ended: none of them is alive any more.
            if (!crash_.empty()) tiles.back()["alive"] = false;
        }
        s["tiles"] = std::move(tiles);
        for (const char* part : {"contacts", "instances"})
            if (changesSince < 0 || (parts_.count(part) && parts_[part].version > changesSince))
                s[part] = parts_.count(part) ? parts_[part].value : json::array();
        s["now"] = now_;
        s["files"] = files_;
        s["settings"] = options_.settings;
        s["warnings"] = options_.warnings;
    }
    s["viewVersion"] = viewVersion_;
    s["version"] = version_;
    s["clock"] = clockRunning_ ? "running" : "paused";
    s["crash"] = crash_.empty() ? json(nullptr) : json(crash_);
    s["lines"] = lines;
    s["next"] = next;
    // What is kept, said on the page: the lines the server still has, and the steps a restart
    // runs again.
    s["kept"] = {{"first", firstLine_}, {"lines", keptLines}, {"steps", ranSteps_.load()}};
    s["rebuilt"] = rebuilt_;
    return s;
}

std::int64_t Panel::waitForChange(std::int64_t seen, int ms) {
    // Rationale: a step's own line is news only while the step takes long (a slow or hung
    // call); a step that answers at once is told once, with all it did, so that the page
    // draws one state for it, not two.
    constexpr auto settle = std::chrono::milliseconds(150);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(viewMutex_);
    for (;;) {
        if (closed_) return -1;
        const auto now = std::chrono::steady_clock::now();
        if (version_ != seen && (!stepRunning_ || now >= stepSince_ + settle)) return version_;
        if (now >= until) return version_ != seen ? version_ : seen;
        change_.wait_until(
            lock, version_ != seen && stepRunning_ ? std::min(until, stepSince_ + settle) : until);
    }
}

std::optional<Step> stepOf(const json& request, std::string& error) {
    if (!request.is_object() || !request.contains("act") || !request["act"].is_string()) {
        error = "an act is a JSON object with \"act\": parent, press, create, delete, switch or "
                "advance";
        return std::nullopt;
    }
    const std::string act = request["act"], tile = request.value("tile", "");
    if (!tile.empty() && !isComponentName(tile)) {
        error = "\"tile\": '" + escape(tile) + "' does not name a component";
        return std::nullopt;
    }
    try {
        const auto number = [&](const char* name) { return request.at(name).get<std::int32_t>(); };
        StepKind kind;
        if (act == "parent")
            kind = steps::Parent{request.at("text").get<std::string>()};
        else if (act == "press")
            kind = steps::Press{request.at("panel").get<std::string>(),
                                request.at("control").get<std::string>()};
        else if (act == "create")
            kind = steps::Create{request.value("path", "")};
        else if (act == "delete")
            kind = steps::Delete{};
        else if (act == "switch")
            kind = steps::Switch{number("device"), number("contact"), number("state")};
        else if (act == "advance")
            kind = steps::Advance{{request.at("ms").get<std::int64_t>()}};
        else {
            error = "unknown act '" + escape(act) +
                    "' (parent, press, create, delete, switch, advance)";
            return std::nullopt;
        }
        return Step{std::move(kind), tile, 0};
    } catch (const json::exception&) {
        error = "the act '" + act + "' lacks a field, or one is of the wrong type";
        return std::nullopt;
    }
}
