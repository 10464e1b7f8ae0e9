// A session: one plug-in library, one simulated facility and clock, one configuration, and any
// number of live components, each with a host client of its own (emulated_host.h) whose timers
// and registrations end with it. Steps (step.h) are what happens to it; `run`, `--record`, the
// validator's lives and the web panel drive it with them.
//
// Thread: one, the caller's; a session calls into the plug-in only from apply() and end().
#pragma once

#include "emulated_host.h"
#include "facility.h"
#include "plugin.h"
#include "step.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct SessionOptions {
    std::string plugin; // the plug-in a step loads when none is named, or none was loaded
    // The scenario the steps come from: names it in errors and anchors relative files; "-" or
    // empty: files are taken as given.
    std::string name;
    // When there is no plug-in: why, and what to do (empty: the usual advice).
    std::string noPlugin = {};
    // Expectations account for everything: what the steps since the last expectations did and
    // no expectation checked fails when the next step starts (and at closeGroup()). Otherwise
    // it is passed over, as a person at a prompt or on the page wants.
    bool strict = false;
};

// What a step found wrong. A mismatch is counted and the run goes on; a fatal error (a file that
// cannot be used) ends a run that is not interactive.
struct StepFailure {
    enum Kind {
        Mismatch, // what was expected and what came
        Contract, // a breach of the host contract: actual is its rule's text
        Fatal,    // the run cannot go on: message, and where when it is not at the step
    } kind = Mismatch;
    std::string what, expected, actual; // a mismatch or a breach
    std::string rule;                   // a breach: its rule's id ("no-as")
    std::string where;
    std::string message;
    int line = 0; // a mismatch found after the step it is about: that step's line
    bool fatal() const { return kind == Fatal; }
    // On one line: a breach as its rule's text, a mismatch with what was expected and what
    // came, a fatal error with where it is.
    std::string text() const;
};

// Why a step that delivered something to a component made it send nothing, as a host sees it
// (no component's own settings are named).
struct Silence {
    enum Reason {
        Nothing,       // it did nothing, for no reason the host can tell
        NoTimerDue,    // a clock step in which no timer fell due
        NotRegistered, // the component has no contact registered
        OtherContact,  // a report of a contact it did not register
        NoReportYet,   // a press before any report was delivered
        OtherControl,  // a press of another panel or control than its own
        PressIgnored,  // a press on its own control that it did not act on
    } reason = Nothing;
    std::string panel, control; // OtherControl: the component's own
    // "(the component sent nothing: ...)", as the transcript shows it.
    std::string text() const;
};

class Session {
public:
    explicit Session(SessionOptions options = {});
    // A session on a library loaded already (shared with other sessions) and a facility made in
    // memory, as the validator's lives have them.
    Session(std::shared_ptr<const Plugin> plugin, Facility facility);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs one step. A step that is not an expectation first ends the group of steps before it
    // when expectations followed them (strict: what none of them checked is a failure), then
    // delivers everything it caused and checks the host contract. Comments do nothing.
    std::vector<StepFailure> apply(const Step& step);
    // Ends the group of steps now: strict, each event no expectation checked is a mismatch on
    // the line of the step that made it. The events are forgotten.
    std::vector<StepFailure> closeGroup();
    void setStrict(bool strict) { options_.strict = strict; }
    // Ends every live component, as a host does when it closes: the steps of endings(), in
    // turn, the events of the last one kept.
    std::vector<StepFailure> end();
    // A 'delete' step for each live component, in their order.
    std::vector<Step> endings() const;
    // A configuration file for the facility and for the plug-in (VORN_CONFIG); "line" is where
    // a scenario named it (0: the command line).
    std::vector<StepFailure> configure(const std::string& file, int line);

    // The components' hosts, in the order they were first created, live or not.
    struct Member {
        std::string name;
        std::unique_ptr<EmulatedHost> host;
        std::size_t cursor = 0;    // the next event an expectation looks at
        std::size_t reported = 0;  // breaches reported so far
        std::size_t stepStart = 0; // the first event of the last step
        // Strict: where each step of the group began in the events, and its line.
        std::vector<std::pair<std::size_t, int>> steps;
        bool created = false;
    };
    const std::deque<Member>& members() const { return members_; }
    EmulatedHost* host(const std::string& name);
    bool alive(const std::string& name) const;

    // When the delivery a step made got no command or debug text at all: why, as far as the
    // host can tell (": no contact is registered", or empty); nothing when it got some.
    std::optional<Silence> silence(const Step& step) const;
    // Expectations that match everything the last step made each component do, each followed
    // by "expect nothing", so that a recording replays as made.
    std::vector<Step> expectations() const;
    // A file a step names, as the session reads it.
    std::string resolve(const std::string& file) const;

    // The plug-in file loaded last, and how many loads there were: a caller says which plug-in
    // a step loaded.
    const std::string& pluginFile() const { return pluginFile_; }
    int loads() const { return loads_; }

    Facility& facility() { return facility_; }
    std::int64_t now() const { return now_; }
    static constexpr std::int64_t maxTicksPerStep = 100000;
    // Deliveries one settling may make, so that components and a facility that keep answering
    // each other cannot run forever.
    static constexpr int deliveryLimit = 10000;

private:
    Member& member(const std::string& name);
    Member* find(const std::string& name);
    const Member* find(const std::string& name) const;
    bool load(const std::string& file, std::vector<StepFailure>& failures);
    void settle();
    std::int64_t ticksDue(std::int64_t ms) const;
    void checkContract(std::vector<StepFailure>& failures);
    void mismatch(std::vector<StepFailure>& failures, const std::string& what,
                  const std::string& expected, const std::string& actual);
    void fatal(std::vector<StepFailure>& failures, const std::string& where,
               const std::string& message);

    // One case for each kind of step.
    void run(const steps::Comment&, Member*, const Step&, std::vector<StepFailure>&) {}
    void run(const steps::Config&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Load&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Create&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Parent&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Hold&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Release&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Press&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Report&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Switch&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Tick&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Advance&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Message&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::Delete&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectCommand&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectDebug&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectAnswer&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectNoAnswer&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectNotify&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectNothing&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectPanel&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectContact&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectEnded&, Member*, const Step&, std::vector<StepFailure>&);
    void run(const steps::ExpectRest&, Member*, const Step&, std::vector<StepFailure>&);
    void expectEvent(Member* m, const HostEvent& wanted, std::vector<StepFailure>& failures);

    SessionOptions options_;
    std::shared_ptr<const Plugin> plugin_;
    std::string pluginFile_;
    int loads_ = 0;
    Facility facility_;
    std::int64_t now_ = 0;
    std::deque<Member> members_; // a deque: a member stays where it is while others come
    bool expected_ = false;      // an expectation ran since the last step
};

// What a host's events from "from" on look like in a transcript, a line each (with its line
// feed), and the button when the panel changed.
std::string transcript(const EmulatedHost& host, std::size_t from = 0);
// The button as the panel shows it, on one line.
std::string buttonView(const EmulatedHost& host);
