// The web panel's model: one session of tiles, run in the sandbox (a child process that answers
// each step with what it did and how the panel looks), the transcript of everything so far,
// the recording, the real-time clock, and what the page is told when any of it changes.
//
// Threads: any. Every call takes the panel's lock; a step runs while it is held, so steps from
// several pages run one after another, in the order they came.
#pragma once

#include "sandbox.h"
#include "session.h"

#include <nlohmann/json.hpp>

#include "vorn_file.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct PanelOptions {
    SessionOptions session; // the plug-in
    std::string config;     // configuration and facility file; its tiles, or one per instance
    int stepSeconds = 10;   // a step not answered by then has hung
    std::vector<std::string> settings; // the component's, as it answered them
    std::vector<std::string> warnings; // what checking the configuration found, a line each
};

// What the page asked for, answered.
struct PanelAnswer {
    int status = 200; // an HTTP status: 400 for a malformed request
    std::string message;
    nlohmann::json done = nullptr; // a step run: its text, lines, answers, failures (or crash)
};

class Panel {
public:
    explicit Panel(PanelOptions options);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Starts the session: the configuration, then each tile made, set and bound as a scenario
    // would do it. False with the reason when the configuration cannot be used.
    bool begin(std::string& error);
    // Runs one step, written as a scenario line.
    PanelAnswer act(const std::string& line);
    // Runs one step given as fields (stepOf); the step language's escaping is done here.
    PanelAnswer actOn(const nlohmann::json& request);
    // Presses a tile where its component last said it stands (its panel and control); 404 for
    // a tile that is not there.
    PanelAnswer press(const std::string& tile);
    // Leaves an opened scenario: the configuration's panel in a fresh session, as at the start.
    PanelAnswer backToPanel();
    // The folder the panel's files are in (its configuration's, else its scenario's).
    std::string folder() const;
    // Whether the panel's folder has this image (a path from the folder, with '/').
    bool hasFile(const std::string& path);
    // Runs a scenario file's steps, read whole first, in a fresh session. name: the file's
    // name, when the page opened it (its files are then looked for in the panel's folder).
    PanelAnswer replay(const std::string& text, const std::string& name = "");
    // After a crash or a hang, or to load a rebuilt plug-in file: a new child (which loads the
    // plug-in file as it is now), the steps so far run again on it.
    PanelAnswer restart();
    // The clock: real time (timer ticks as in the studio) or paused.
    void setClockRunning(bool running);
    // Called once a second by the server: with the clock running, a second passes; and whether
    // the plug-in file changed (a rebuild) is looked at.
    void secondPassed();

    // The session so far as a scenario file that `vorn-host run` replays.
    std::string recording();
    // Everything the page shows: tiles, contacts, clock, crash, and the transcript lines from
    // "since" on (their numbers count from 1). changesSince: a "viewVersion" of an earlier state
    // the caller has; only the tiles (and contacts, instances) changed after it are given, with
    // "full" false. withView false: the lines and the clock alone. Never waits for a step that
    // runs.
    nlohmann::json state(std::int64_t since, std::int64_t changesSince = -1, bool withView = true);
    // Waits until something changed after "seen" (at most ms); the latest change's number, or
    // -1 once the panel is closed. Never waits for a step that runs.
    std::int64_t waitForChange(std::int64_t seen, int ms);
    // One tile as state() gives it (not alive after a crash), or null; the facility's contacts,
    // instances and clock. Never wait for a step that runs.
    nlohmann::json tile(const std::string& name);
    nlohmann::json facilityView();
    void close();

private:
    struct Entry {
        std::string step;               // as run
        std::string expectations;       // what it made the components do, a line each
        std::int64_t silentAdvance = 0; // an advance that made nothing happen: its ms
    };
    // The session's side: sessionMutex_ held.
    PanelAnswer run(const std::string& line, bool record);
    bool startChild(std::string& error);
    bool startPanel(std::string& error); // the configuration's tiles, made and bound
    bool ask(const std::string& step, nlohmann::json& answer); // false: the child has ended
    void keep(const std::string& text, const Step& step);      // for a restart to run again
    void forget();                                             // nothing to run again
    // The page's side: viewMutex_ held.
    void note(const std::string& tile, const std::string& text, const std::string& kind,
              nlohmann::json fields = nullptr);
    void quietTime(std::int64_t ms); // the last line, a clock's step that did nothing
    void changed();
    nlohmann::json tileView(const std::string& name) const; // from tiles_, or null
    std::string crashed();                                  // takes viewMutex_

    PanelOptions options_;
    // Lock order: sessionMutex_, then viewMutex_. A step holds sessionMutex_ while it runs;
    // what the page reads is under viewMutex_ alone, so reading never waits for a step.
    std::mutex sessionMutex_;
    SandboxChild child_;
    std::string childName_;           // the scenario the child's session reads files beside
    std::vector<std::string> ran_;    // every step the current session ran, to run again
    std::int64_t lastRanAdvance_ = 0; // ran_.back() is the clock's advance of this many ms
    std::vector<Entry> recording_;
    std::size_t heldBytes_ = 0;            // of ran_ and recording_
    std::atomic<std::size_t> ranSteps_{0}; // ran_.size(), for the page
    vorn_file_version built_;              // the plug-in file the child loaded
    std::string header_;

    std::mutex viewMutex_;
    std::condition_variable change_;
    // The tiles, contacts and instances as the child last said, each with the viewVersion_
    // at which it last changed.
    struct TileView {
        nlohmann::json tile;
        std::int64_t version = 0;
    };
    struct PartView {
        nlohmann::json value;
        std::int64_t version = 0;
    };
    std::map<std::string, TileView> tiles_;
    std::vector<std::string> order_;
    std::map<std::string, PartView> parts_; // "contacts", "instances"
    std::int64_t now_ = 0;
    std::int64_t viewVersion_ = 0;
    void merge(const nlohmann::json& changes); // a child's answer's "view"
    void allTilesChanged();
    struct Line {
        std::string tile, text, kind; // kind: step, event, answer, failure, crash, quiet
        nlohmann::json fields;        // more for the page: an answer's text, a silence's reason
    };
    std::deque<Line> transcript_;
    std::int64_t firstLine_ = 1; // the number of transcript_.front()
    std::int64_t version_ = 0;
    bool clockRunning_ = true;
    bool stepRunning_ = false; // a step is in the child: since stepSince_
    std::chrono::steady_clock::time_point stepSince_;
    bool rebuilt_ = false;           // the plug-in file changed since the child loaded it
    std::vector<std::string> files_; // the images of the panel's folder, for url(...)
    std::string crash_;              // what ended the child, and in which step; empty while it runs
    bool closed_ = false;
};

// A step from the page's fields: {"act": "parent", "tile": NAME, "text": TEXT}, and likewise
// press (panel, control), create (path), delete, switch (device, contact, state), advance (ms).
std::optional<Step> stepOf(const nlohmann::json& request, std::string& error);

// ".png" and the other image files' extensions (lower case) a style sheet may name.
bool isImageExtension(const std::string& extension);

// The sandbox's child side: runs each step it is asked and answers with what the step did and
// how the panel looks after it, until the parent closes the channel.
void servePanelSession(const SessionOptions& options, SandboxChildSide& side);
