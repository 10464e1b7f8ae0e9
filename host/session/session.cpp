#include "session.h"

#include "plugin_file.h"

#include <algorithm>

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// How a component is named in a message: nothing for the unnamed one.
std::string called(const std::string& name) {
    return name.empty() ? "" : " (component " + name + ")";
}

std::string describe(const HostEvent* e) {
    if (!e) return "nothing more";
    switch (e->kind) {
    case HostEvent::Command:
        return "command " + escape(e->text);
    case HostEvent::Debug:
        return "debug " + escape(e->text);
    case HostEvent::Answer:
        return e->hasReply ? "answer " + escape(e->text) : "no answer";
    case HostEvent::Delivered:
        break;
    }
    return e->text;
}

// Strict: the line of the step of the group that made a member's event "index"; 0 unknown.
int madeOn(const Session::Member& m, std::size_t index) {
    int line = 0;
    for (const auto& [start, at] : m.steps)
        if (start <= index) line = at;
    return line;
}

HostEvent answerEvent(const std::string& text, bool answered) {
    HostEvent e(HostEvent::Answer, text);
    e.hasReply = answered;
    return e;
}

} // namespace

std::string StepFailure::text() const {
    if (kind == Fatal) return (where.empty() ? "" : where + ": ") + message;
    if (kind == Contract) return actual;
    return what + ": expected " + expected + ", actual " + actual;
}

std::string Silence::text() const {
    static const char* const why[] = {
        "",
        ": no timer fell due",
        ": no contact is registered",
        ": that contact is not registered",
        ": no report was delivered yet",
        "", // OtherControl: its own words
        ": the component did not act on the press",
    };
    if (reason == OtherControl)
        return "(the component sent nothing: that is another panel or control than the one it "
               "puts ('" +
               panel + "' '" + control + "'))";
    return std::string("(the component sent nothing") + why[reason] + ")";
}

Session::Session(SessionOptions options) : options_(std::move(options)) {}

Session::Session(std::shared_ptr<const Plugin> plugin, Facility facility)
    : plugin_(std::move(plugin)), facility_(std::move(facility)) {}

Session::~Session() {
    // The hosts go first: they hand back what they hold and forget their registrations.
    members_.clear();
}

std::string Session::resolve(const std::string& file) const {
    const std::string& name = options_.name;
    if (file.empty() || file[0] == '/' || (file.size() > 1 && file[1] == ':') || name == "-")
        return file;
    return folderOf(name) + file;
}

Session::Member* Session::find(const std::string& name) {
    for (Member& m : members_)
        if (m.name == name) return &m;
    return nullptr;
}

const Session::Member* Session::find(const std::string& name) const {
    for (const Member& m : members_)
        if (m.name == name) return &m;
    return nullptr;
}

Session::Member& Session::member(const std::string& name) {
    if (Member* m = find(name)) return *m;
    Member& m = members_.emplace_back();
    m.name = name;
    m.host = std::make_unique<EmulatedHost>(facility_, now_);
    return m;
}

EmulatedHost* Session::host(const std::string& name) {
    Member* m = find(name);
    return m ? m->host.get() : nullptr;
}

bool Session::alive(const std::string& name) const {
    const Member* m = find(name);
    return m && m->host->alive();
}

void Session::mismatch(std::vector<StepFailure>& failures, const std::string& what,
                       const std::string& expected, const std::string& actual) {
    StepFailure f;
    f.what = what;
    f.expected = expected;
    f.actual = actual;
    failures.push_back(f);
}

void Session::fatal(std::vector<StepFailure>& failures, const std::string& where,
                    const std::string& message) {
    StepFailure f;
    f.kind = StepFailure::Fatal;
    f.where = where;
    f.message = message;
    failures.push_back(f);
}

std::vector<StepFailure> Session::apply(const Step& step) {
    std::vector<StepFailure> failures;
    if (step.isComment()) return failures;
    const StepRow& row = step.row();
    if (step.isExpectation()) {
        Member* m = find(step.component);
        if (!m && !std::holds_alternative<steps::ExpectContact>(step.kind)) {
            // A component never made did nothing.
            if (!std::holds_alternative<steps::ExpectNothing>(step.kind))
                mismatch(failures, "mismatch", formatStep(step),
                         step.component.empty() ? "no host yet"
                                                : "no component " + step.component + " yet");
            return failures;
        }
        expected_ = true;
        std::visit([&](const auto& kind) { run(kind, m, step, failures); }, step.kind);
        return failures;
    }
    // Expectations look at what the steps since the last expectations did. Loose, only this
    // step's events are kept: a long run on the page keeps no more.
    if (expected_ || !options_.strict) failures = closeGroup();
    for (Member& m : members_) {
        m.host->panelChanged = false;
        m.stepStart = m.host->events.size();
        if (options_.strict) m.steps.emplace_back(m.stepStart, step.line);
    }
    if (row.needs != StepRow::Nothing && !plugin_) {
        if (options_.plugin.empty()) {
            fatal(failures, "",
                  "no plug-in: " + (options_.noPlugin.empty()
                                        ? std::string("give --plugin FILE or a 'load FILE' step")
                                        : options_.noPlugin));
            return failures;
        }
        if (!load(options_.plugin, failures)) return failures;
    }
    if (row.needs == StepRow::Component && !alive(step.component)) {
        const Member* m = find(step.component);
        mismatch(failures,
                 std::string("'") + row.keyword + "' needs a live component" +
                     called(step.component),
                 "a 'create' step before it",
                 m && m->created ? "the component was deleted" : "no component was created yet");
        return failures;
    }
    // Only a step for a component makes its host; the facility's and the clock's make none.
    Member* addressed =
        row.needs == StepRow::Component || std::holds_alternative<steps::Create>(step.kind)
            ? &member(step.component)
            : nullptr;
    if (addressed && options_.strict && addressed->steps.empty())
        addressed->steps.emplace_back(0, step.line);
    std::visit([&](const auto& kind) { run(kind, addressed, step, failures); }, step.kind);
    settle();
    checkContract(failures);
    return failures;
}

std::vector<StepFailure> Session::closeGroup() {
    std::vector<StepFailure> failures;
    for (Member& m : members_) {
        // One failure for each step, with all it did that no expectation checked, in order.
        // Events and steps are both in order: the step that made an event is found walking on.
        std::size_t step = 0;
        int line = 0;
        for (std::size_t i = m.cursor; options_.strict && i < m.host->events.size(); ++i) {
            for (; step < m.steps.size() && m.steps[step].first <= i; ++step)
                line = m.steps[step].second;
            const HostEvent& e = m.host->events[i];
            if (e.kind == HostEvent::Delivered || (e.kind == HostEvent::Answer && !e.hasReply))
                continue;
            const std::string what = "not accounted for" + called(m.name);
            if (!failures.empty() && failures.back().line == line && failures.back().what == what) {
                failures.back().actual += "\n            " + describe(&e);
                continue;
            }
            StepFailure f;
            f.what = what;
            f.expected = "an expectation for each of these, or 'expect ...' to let them pass";
            f.actual = describe(&e);
            f.line = line;
            failures.push_back(f);
        }
        m.host->events.clear();
        m.cursor = 0;
        m.stepStart = 0;
        m.steps.clear();
    }
    expected_ = false;
    return failures;
}

std::vector<StepFailure> Session::end() {
    std::vector<StepFailure> failures;
    for (const Step& step : endings())
        for (StepFailure& f : apply(step))
            failures.push_back(std::move(f));
    return failures;
}

std::vector<Step> Session::endings() const {
    std::vector<Step> out;
    for (const Member& m : members_)
        if (m.host->alive()) out.push_back(Step{steps::Delete{}, m.name, 0});
    return out;
}

void Session::checkContract(std::vector<StepFailure>& failures) {
    for (Member& m : members_) {
        const auto& breaches = m.host->monitor.breaches();
        for (; m.reported < breaches.size(); ++m.reported) {
            StepFailure f;
            f.kind = StepFailure::Contract;
            f.what = "host contract";
            f.expected = "a well-behaved plug-in";
            f.actual = breaches[m.reported].text() + called(m.name);
            f.rule = contractRule(breaches[m.reported].rule).id;
            failures.push_back(f);
        }
    }
}

// Delivers what the facility queued for each component, the components in their order, until
// none has more; what one delivery makes a component send may queue more for any of them.
void Session::settle() {
    int budget = deliveryLimit;
    for (bool more = true; more;) {
        more = false;
        for (Member& m : members_) {
            if (!m.host->hasPending()) continue;
            if (budget == 0) {
                m.host->monitor.breach(ContractRule::TooManyDeliveries,
                                       "more than " + std::to_string(deliveryLimit) +
                                           " deliveries in one step; the rest were dropped");
                for (Member& each : members_)
                    each.host->dropPending();
                return;
            }
            budget -= m.host->deliverPending(budget);
            more = true;
        }
    }
}

bool Session::load(const std::string& file, std::vector<StepFailure>& failures) {
    // Every live component ends first: its teardown is shown and checked with the step.
    for (Member& m : members_)
        m.host->destroy();
    checkContract(failures);
    auto plugin = std::make_shared<Plugin>();
    std::string error;
    plugin_.reset();
    if (!plugin->open(file, error)) {
        fatal(failures, "", error);
        return false;
    }
    plugin_ = std::move(plugin);
    pluginFile_ = file;
    ++loads_;
    return true;
}

std::vector<StepFailure> Session::configure(const std::string& file, int line) {
    std::vector<StepFailure> failures;
    Facility configuration;
    std::vector<ConfigProblem> problems;
    const std::string path = absolutePath(file);
    configuration.load(path, problems);
    // Each problem at the place a person mends it: "FILE:LINE: why", and where the file was
    // named.
    const std::string namedAt =
        line > 0 ? " (named at " + options_.name + ":" + std::to_string(line) + ")" : " (--config)";
    // The file's name as a person reads it: a line feed in it would take FILE:LINE off the
    // message's first line.
    const std::string shown = escape(file);
    for (const ConfigProblem& p : problems) {
        if (p.line > 0)
            fatal(failures, shown + ":" + std::to_string(p.line), p.text + namedAt);
        else if (line > 0) // the file as a whole: mended where it is named
            fatal(failures, options_.name + ":" + std::to_string(line),
                  "the configuration file " + shown + ": " + p.text);
        else
            fatal(failures, shown, p.text + namedAt);
    }
    if (!problems.empty()) return failures;
    setEnvironment("VORN_CONFIG", path);
    // The hosts' registrations and timers are their own; the file brings instances and, where
    // it names them, contact states.
    facility_.takeConfiguration(configuration);
    return failures;
}

std::int64_t Session::ticksDue(std::int64_t ms) const {
    const std::int64_t until = now_ + ms;
    std::int64_t due = 0;
    for (const Member& m : members_)
        if (m.host->alive())
            for (const auto& [id, timer] : m.host->timers())
                if (timer.due <= until && timer.period > 0)
                    due += (until - timer.due) / timer.period + 1;
    return due;
}

// The steps.
void Session::run(const steps::Config& s, Member*, const Step& step,
                  std::vector<StepFailure>& failures) {
    for (StepFailure& f : configure(resolve(s.file), step.line))
        failures.push_back(f);
}

void Session::run(const steps::Load& s, Member*, const Step&, std::vector<StepFailure>& failures) {
    load(s.file.empty() ? options_.plugin : resolve(s.file), failures);
}

void Session::run(const steps::Create& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    // A live component is deleted first, as the host would replace it; its teardown is shown
    // and checked with the rest of the step.
    m->created = true;
    if (!m->host->create(*plugin_, s.path))
        mismatch(failures, "the plug-in returned no component", "a component", "null");
}

void Session::run(const steps::Parent& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->parentCommand(&s.text);
}

void Session::run(const steps::Hold& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->parentCommand(&s.text, true);
}

void Session::run(const steps::Release& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->release(s.k);
}

void Session::run(const steps::Press& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->press(s.panel, s.control);
}

void Session::run(const steps::Report& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->report(s.device, s.contact, s.state);
}

void Session::run(const steps::Switch& s, Member*, const Step&, std::vector<StepFailure>&) {
    facility_.setState(s.device, s.contact, s.state);
}

void Session::run(const steps::Tick& s, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->tick(s.timer);
}

void Session::run(const steps::Advance& s, Member*, const Step&,
                  std::vector<StepFailure>& failures) {
    const std::int64_t due = ticksDue(s.by.ms);
    auto tooFar = [&](const std::string& actual) {
        mismatch(failures, "too far for one step",
                 "at most " + std::to_string(maxTicksPerStep) + " timer ticks in one 'advance'",
                 actual);
    };
    if (due > maxTicksPerStep) { // nothing delivered, the clock unmoved
        tooFar(std::to_string(due) + " ticks due");
        return;
    }
    const std::int64_t until = now_ + s.by.ms;
    // Timers the components start while the clock moves count too: the limit is on ticks
    // delivered, not only on those due when the step began.
    for (std::int64_t delivered = 0;; ++delivered) {
        // The earliest due timer; on a tie the first component's, then the lowest id.
        EmulatedHost* host = nullptr;
        std::map<std::int32_t, EmulatedHost::Timer>::iterator next;
        for (Member& each : members_) {
            if (!each.host->alive()) continue;
            auto& timers = each.host->timers();
            for (auto it = timers.begin(); it != timers.end(); ++it)
                if (it->second.due <= until && (!host || it->second.due < next->second.due)) {
                    host = each.host.get();
                    next = it;
                }
        }
        if (!host) break;
        if (delivered == maxTicksPerStep) { // the clock stays at the last tick
            tooFar("more, with the timers the component started meanwhile");
            return;
        }
        now_ = next->second.due;
        const std::int32_t id = next->first;
        next->second.due += next->second.period;
        host->tick(id);
        settle();
    }
    now_ = until;
}

void Session::run(const steps::Message& s, Member* m, const Step&, std::vector<StepFailure>&) {
    if (s.type == VORN_MSG_PARENT)
        m->host->parentCommand(nullptr, true);
    else
        m->host->message(s.type);
}

void Session::run(const steps::Delete&, Member* m, const Step&, std::vector<StepFailure>&) {
    m->host->destroy();
}

// The expectations.
namespace {
// The next event that an expectation can match, or null.
const HostEvent* nextEvent(const EmulatedHost& host, std::size_t& cursor) {
    while (cursor < host.events.size() && host.events[cursor].kind == HostEvent::Delivered)
        ++cursor;
    return cursor < host.events.size() ? &host.events[cursor] : nullptr;
}
// The next event, passing over parent commands that had no answer (unless "no answer" is what is
// expected).
const HostEvent* nextSkippingSilentAnswers(const EmulatedHost& host, std::size_t& cursor) {
    const HostEvent* e = nextEvent(host, cursor);
    while (e && e->kind == HostEvent::Answer && !e->hasReply) {
        ++cursor;
        e = nextEvent(host, cursor);
    }
    return e;
}
} // namespace

void Session::expectEvent(Member* m, const HostEvent& wanted, std::vector<StepFailure>& failures) {
    // Only 'expect no answer' looks at an answer that had no reply: to the rest it is nothing.
    const HostEvent* e = wanted.kind == HostEvent::Answer && !wanted.hasReply
                             ? nextEvent(*m->host, m->cursor)
                             : nextSkippingSilentAnswers(*m->host, m->cursor);
    if (!e || e->kind != wanted.kind || e->text != wanted.text ||
        (wanted.kind == HostEvent::Answer && e->hasReply != wanted.hasReply)) {
        // Passed over, so that the expectations after it meet the events after it.
        const std::string actual = describe(e);
        if (e) ++m->cursor;
        mismatch(failures, "mismatch", describe(&wanted), actual);
        return;
    }
    ++m->cursor;
}

void Session::run(const steps::ExpectCommand& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    expectEvent(m, {HostEvent::Command, s.text}, failures);
}

void Session::run(const steps::ExpectNotify& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    expectEvent(m, {HostEvent::Command, "HN '" + s.text + "'"}, failures);
}

void Session::run(const steps::ExpectDebug& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    expectEvent(m, {HostEvent::Debug, s.text}, failures);
}

void Session::run(const steps::ExpectAnswer& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    expectEvent(m, answerEvent(s.text, true), failures);
}

void Session::run(const steps::ExpectNoAnswer&, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    expectEvent(m, answerEvent("", false), failures);
}

void Session::run(const steps::ExpectNothing&, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    const HostEvent* e = nextSkippingSilentAnswers(*m->host, m->cursor);
    if (!e) return;
    // Reported here once, with how many more there were, and not again when the group ends.
    std::size_t more = 0;
    for (std::size_t i = m->cursor + 1; i < m->host->events.size(); ++i) {
        const HostEvent& other = m->host->events[i];
        more += other.kind != HostEvent::Delivered &&
                !(other.kind == HostEvent::Answer && !other.hasReply);
    }
    const int line = madeOn(*m, m->cursor);
    mismatch(failures, "mismatch", "nothing more",
             describe(e) + (more ? " (and " + std::to_string(more) + " more)" : "") +
                 (line ? ", made by the step on line " + std::to_string(line) : ""));
    m->cursor = m->host->events.size();
}

void Session::run(const steps::ExpectRest&, Member* m, const Step&, std::vector<StepFailure>&) {
    m->cursor = m->host->events.size();
}

void Session::run(const steps::ExpectEnded&, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    if (!m->host->ended) mismatch(failures, "mismatch", "AS sent", "no AS");
}

void Session::run(const steps::ExpectPanel& s, Member* m, const Step&,
                  std::vector<StepFailure>& failures) {
    const std::string& name = s.setting.property;
    const std::string* set = m->host->property(name);
    // As the button view shows it: a button until the component says otherwise (but "unset"
    // asks whether it was put at all).
    static const std::string button = "button";
    if (!set && name == "style" && !s.setting.unset) set = &button;
    const std::string actual = set ? name + "=" + escape(*set) : name + " unset";
    const std::string wanted =
        s.setting.unset ? name + " unset" : name + "=" + escape(s.setting.value);
    if (actual != wanted) mismatch(failures, "panel property", wanted, actual);
}

void Session::run(const steps::ExpectContact& s, Member*, const Step&,
                  std::vector<StepFailure>& failures) {
    const std::int32_t actual = facility_.state(s.device, s.contact);
    if (actual != s.state)
        mismatch(failures, "contact state", std::to_string(s.state), std::to_string(actual));
}

std::optional<Silence> Session::silence(const Step& step) const {
    const bool delivery = std::holds_alternative<steps::Press>(step.kind) ||
                          std::holds_alternative<steps::Report>(step.kind) ||
                          std::holds_alternative<steps::Tick>(step.kind) ||
                          std::holds_alternative<steps::Switch>(step.kind) ||
                          std::holds_alternative<steps::Advance>(step.kind);
    const Member* m = find(step.component);
    if (!delivery || !m || !m->host->alive()) return std::nullopt;
    bool anything = false;
    for (const Member& each : members_)
        for (std::size_t i = each.stepStart; i < each.host->events.size(); ++i) {
            if (each.host->events[i].kind != HostEvent::Delivered) return std::nullopt;
            anything = true;
        }
    const EmulatedHost& host = *m->host;
    const auto because = [](Silence::Reason reason) { return Silence{reason, {}, {}}; };
    if (std::holds_alternative<steps::Advance>(step.kind))
        return because(anything ? Silence::Nothing : Silence::NoTimerDue);
    if (!host.registered()) return because(Silence::NotRegistered);
    if (const auto* r = std::get_if<steps::Report>(&step.kind))
        if (!host.registered(r->device, r->contact)) return because(Silence::OtherContact);
    if (const auto* press = std::get_if<steps::Press>(&step.kind)) {
        if (host.reportsDelivered == 0) return because(Silence::NoReportYet);
        if (!host.lastControl.empty() &&
            (press->panel != host.lastPanel || press->control != host.lastControl))
            return Silence{Silence::OtherControl, host.lastPanel, host.lastControl};
        return because(Silence::PressIgnored);
    }
    return because(Silence::Nothing);
}

std::vector<Step> Session::expectations() const {
    std::vector<Step> out;
    for (const Member& m : members_) {
        if (!m.host->alive() && m.host->events.size() == m.stepStart) continue;
        auto add = [&](StepKind kind) { out.push_back(Step{std::move(kind), m.name, 0}); };
        for (std::size_t i = m.stepStart; i < m.host->events.size(); ++i) {
            const HostEvent& e = m.host->events[i];
            switch (e.kind) {
            case HostEvent::Command:
                add(steps::ExpectCommand{e.text});
                break;
            case HostEvent::Debug:
                add(steps::ExpectDebug{e.text});
                break;
            case HostEvent::Answer:
                if (e.hasReply)
                    add(steps::ExpectAnswer{e.text});
                else
                    add(steps::ExpectNoAnswer{});
                break;
            case HostEvent::Delivered:
                break;
            }
        }
        add(steps::ExpectNothing{});
    }
    return out;
}

std::string buttonView(const EmulatedHost& h) {
    auto prop = [&](const char* name, const char* none) {
        const std::string* value = h.property(name);
        if (!value) return std::string(none);
        return value->empty() ? std::string("\"\"") : escape(*value);
    };
    std::string view = "[ " + prop("text", "(no label)") + " ]  style=" + prop("style", "button") +
                       "  look=" + prop("statesheet", "-");
    if (h.property("stylesheet")) view += "  sheet=" + prop("stylesheet", "");
    view += "  panel " + (h.lastPanel.empty() ? std::string("-") : h.lastPanel);
    if (!h.notifications.empty()) view += "  last " + escape(h.notifications.back());
    return view;
}

std::string transcript(const EmulatedHost& h, std::size_t from) {
    std::string out;
    for (std::size_t i = from; i < h.events.size(); ++i) {
        const HostEvent& e = h.events[i];
        switch (e.kind) {
        case HostEvent::Command:
            out += "  -> " + escape(e.text);
            if (e.text.rfind("SD ", 0) == 0)
                out += e.hasReply ? "   <= \"" + escape(e.reply) + "\"" : "   <= no reply";
            out += "\n";
            break;
        case HostEvent::Debug:
            out += "  debug: " + escape(e.text) + "\n";
            break;
        case HostEvent::Answer:
            out += e.hasReply ? "  <= answer \"" + escape(e.text) + "\"\n" : "  <= no answer\n";
            break;
        case HostEvent::Delivered:
            out += "  <- " + escape(e.text) + "\n";
            break;
        }
    }
    if (h.panelChanged) out += "  " + buttonView(h) + "\n";
    return out;
}
