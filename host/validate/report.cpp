#include "report.h"

#include "junit.h"
#include "lives.h"
#include "plugin.h"
#include "plugin_file.h"
#include "validator.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const char* const outcomeWords[] = {"passed",    "failed",  "crashed",
                                    "timed-out", "skipped", "warning"};
const char* const outcomeLines[] = {"PASSED  ",   "FAILED  ", "CRASHED ",
                                    "TIMED OUT ", "SKIPPED ", "WARNING "};

std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

} // namespace

std::string sha256Hex(const std::string& bytes) {
    static const std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string m = bytes;
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    m += '\x80';
    while (m.size() % 64 != 56)
        m += '\0';
    for (int i = 7; i >= 0; --i)
        m += static_cast<char>((bits >> (8 * i)) & 0xff);
    for (std::size_t block = 0; block < m.size(); block += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = 0;
            for (int b = 0; b < 4; ++b)
                w[i] = w[i] << 8 | static_cast<unsigned char>(m[block + 4 * i + b]);
        }
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a[8];
        std::copy(h, h + 8, a);
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t s1 = rotr(a[4], 6) ^ rotr(a[4], 11) ^ rotr(a[4], 25);
            const std::uint32_t ch = (a[4] & a[5]) ^ (~a[4] & a[6]);
            const std::uint32_t t1 = a[7] + s1 + ch + k[i] + w[i];
            const std::uint32_t s0 = rotr(a[0], 2) ^ rotr(a[0], 13) ^ rotr(a[0], 22);
            const std::uint32_t maj = (a[0] & a[1]) ^ (a[0] & a[2]) ^ (a[1] & a[2]);
            std::copy_backward(a, a + 7, a + 8);
            a[4] += t1;
            a[0] = t1 + s0 + maj;
        }
        for (int i = 0; i < 8; ++i)
            h[i] += a[i];
    }
    char hex[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return hex;
}

PluginFileFacts describePluginFile(const std::string& path) {
    PluginFileFacts facts;
    facts.path = absolutePath(path);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    facts.size = bytes.size();
    facts.sha256 = sha256Hex(bytes);
    facts.version = pluginVersion(path);
    return facts;
}

std::string verdictLine(const CheckRecord& r) {
    std::string line = std::string(outcomeLines[r.outcome]) + r.check->name +
                       (r.detail.empty() ? "" : ": " + r.detail) + "\n";
    if (r.shrunk) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", r.shrunk->seconds);
        line += "        shrunk from " + std::to_string(r.shrunk->stepsBefore) + " steps to " +
                std::to_string(r.shrunk->stepsAfter) + " (" + std::to_string(r.shrunk->attempts) +
                " trials, " + seconds + " s" +
                (r.shrunk->limitReached ? ", stopped at the time limit" : "") +
                "): " + r.shrunk->verdict.text + "\n";
    }
    if (!r.replayCommand.empty()) line += "        replay: " + r.replayCommand + "\n";
    if (!r.note.empty()) line += "        " + r.note + "\n";
    return line;
}

namespace {

// A file name of its own in the folder: STEM.EXT, else STEM-2.EXT, STEM-3.EXT...
std::string freeName(const std::string& dir, const std::string& stem,
                     const std::vector<std::string>& extensions) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        bool free = true;
        for (const std::string& ext : extensions)
            free = free && !std::filesystem::exists(dir + "/" + name + ext);
        if (free) return name;
    }
}

std::string wordOf(std::string name) {
    for (char& c : name)
        if (c == ' ') c = '-';
    return name;
}

// The trial with each configuration file its steps name copied beside its replay (as
// STEM-config-N.ini), so that the replay holds all it needs; named by its file name alone where
// the replay is a scenario (read from the scenario's folder), else by its whole path.
Trial withConfigurationsBeside(Trial trial, const std::string& dir, const std::string& stem,
                               bool byName) {
    int copies = 0;
    for (Life& life : trial.lives)
        for (Step& step : life.steps)
            if (auto* config = std::get_if<steps::Config>(&step.kind)) {
                const std::string name = stem + "-config-" + std::to_string(++copies) + ".ini";
                std::error_code failed;
                std::filesystem::copy_file(config->file, dir + "/" + name,
                                           std::filesystem::copy_options::overwrite_existing,
                                           failed);
                if (!failed) config->file = byName ? name : absolutePath(dir + "/" + name);
            }
    return trial;
}

} // namespace

std::string writeReplay(const Trial& trial, const ShrinkResult& shrunk, const std::string& plugin,
                        const std::string& check, std::uint64_t seed, const std::string& dir,
                        std::string& command) {
    const std::string pluginPath = absolutePath(plugin);
    const TrialVerdict& v = shrunk.verdict;
    const std::string what = "the check '" + check + "', seed " + std::to_string(seed);
    // A scenario drives one component once: a fault that needs several, or a comparison of two
    // runs, is a trial file.
    if (trial.lives.size() != 1 || v.kind == TrialVerdict::Differs) {
        const std::string stem = freeName(dir, check + "-seed" + std::to_string(seed), {".json"});
        const std::string file = dir + "/" + stem + ".json";
        SandboxMessage json = trialJson(withConfigurationsBeside(trial, dir, stem, false));
        json["written"] = "by vorn-host validate: " + what + ", shrunk from " +
                          std::to_string(shrunk.stepsBefore) + " steps; it found " + v.fault() +
                          ": " + v.text;
        std::ofstream out(file);
        out << json.dump(2, ' ', false, SandboxMessage::error_handler_t::replace) << "\n";
        if (!out) return {};
        command = "vorn-host validate --replay " + shellWord(absolutePath(file)) + " " +
                  shellWord(pluginPath);
        return file;
    }
    const std::string stem = freeName(
        dir, check + "-seed" + std::to_string(seed) + "-" + wordOf(trial.lives.front().name),
        {".vorn", ".ini"});
    const Trial beside = withConfigurationsBeside(trial, dir, stem, true);
    const Life& life = beside.lives.front();
    const std::string ini = dir + "/" + stem + ".ini", vorn = dir + "/" + stem + ".vorn";
    std::ofstream config(ini);
    config << "# The facility of " << life.name << " of " << what << ".\n";
    // No labels: the check ran with an empty configuration, and so does the replay (a check
    // that gives labels names a configuration file of its own in the life's steps).
    writeInstances(config, life.facility);
    // A hang shows after a second (the step that hung was judged so), not after run's minute.
    command = "vorn-host run " +
              std::string(v.kind == TrialVerdict::TimedOut ? "--timeout 1 " : "") + "--plugin " +
              shellWord(pluginPath) + " " + shellWord(absolutePath(vorn));
    auto comment = [](const std::string& text) { return Step{steps::Comment{" " + text}, "", 0}; };
    std::vector<Step> script = {
        comment("Written by vorn-host validate: " + life.name + " of " + what + ", shrunk from " +
                std::to_string(shrunk.stepsBefore) + " steps to " +
                std::to_string(shrunk.stepsAfter) + "; it found " + v.fault() + "."),
        comment("Replay: " + command), Step{steps::Config{stem + ".ini"}, "", 0}};
    const std::size_t ran = v.step == 0 ? life.steps.size() : std::min(v.step, life.steps.size());
    script.insert(script.end(), life.steps.begin(),
                  life.steps.begin() + static_cast<std::ptrdiff_t>(ran));
    const bool atItsEnd = v.step > life.steps.size();
    if (atItsEnd) script.push_back(Step{steps::Delete{}, "", 0});
    script.push_back(comment(
        std::string(atItsEnd ? "The check found: " : "The check found here: ") + escape(v.text)));
    // What the steps did besides the fault is not what the replay is about.
    script.push_back(Step{steps::ExpectRest{}, "", 0});
    std::ofstream out(vorn);
    out << formatScript(script);
    return out && config ? vorn : std::string();
}

namespace {

SandboxMessage recordJson(const CheckRecord& r, const std::string& outDir) {
    SandboxMessage c = {{"name", r.check->name},
                        {"topic", r.check->topic},
                        {"level", r.check->level},
                        {"description", r.check->what},
                        {"outcome", outcomeWords[r.outcome]},
                        {"seconds", r.seconds},
                        {"detail", r.detail}};
    if (r.found) {
        SandboxMessage failure = {{"fault", r.found->fault()},
                                  {"rule", r.found->rule},
                                  {"trial", r.trialIndex ? *r.trialIndex : 0},
                                  {"life", r.found->life},
                                  {"step", r.found->step}};
        if (r.shrunk) {
            const TrialVerdict& v = r.shrunk->verdict;
            SandboxMessage lives = SandboxMessage::array();
            for (const Life& life : r.shrunk->trial.lives) {
                SandboxMessage steps = SandboxMessage::array();
                for (const Step& s : life.steps)
                    steps.push_back(formatStep(s));
                lives.push_back({{"name", life.name}, {"steps", steps}});
            }
            failure["shrunk"] = {{"stepsBefore", r.shrunk->stepsBefore},
                                 {"stepsAfter", r.shrunk->stepsAfter},
                                 {"trials", r.shrunk->attempts},
                                 {"seconds", r.shrunk->seconds},
                                 {"limitReached", r.shrunk->limitReached},
                                 {"text", v.text},
                                 {"step", v.step},
                                 {"lives", lives},
                                 {"transcript", v.transcript}};
        }
        if (!r.replay.empty()) {
            failure["replay"] = std::filesystem::relative(r.replay, outDir).generic_string();
            failure["replayCommand"] = r.replayCommand;
        }
        if (!r.note.empty()) failure["note"] = r.note;
        c["failure"] = failure;
    }
    return c;
}

std::string htmlReport(const ValidationReport& report) {
    int counts[6] = {};
    for (const CheckRecord& r : report.checks)
        ++counts[r.outcome];
    std::ostringstream o;
    o << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<title>vorn-host validate: " << xmlText(report.plugin.path) << "</title>\n"
      << "<style>\n"
         "body{font:15px/1.45 system-ui,sans-serif;margin:2em auto;max-width:60em;padding:0 1em;"
         "color:#1d1d1f}\n"
         "h1{font-size:1.4em;margin-bottom:.2em}.facts{color:#555;margin:0 0 1.2em}\n"
         "table{border-collapse:collapse;width:100%}td,th{text-align:left;padding:.35em .6em;"
         "border-bottom:1px solid #ddd;vertical-align:top}\n"
         ".outcome{font-weight:600;white-space:nowrap}.passed{color:#1a7f37}.failed,.crashed,"
         ".timed-out{color:#c4262e}.skipped{color:#777}.warning{color:#9a6700}\n"
         "pre{background:#f6f8fa;padding:.6em .8em;overflow-x:auto;font-size:13px;margin:.4em 0}\n"
         "pre.replay{white-space:pre-wrap;word-break:break-all}td.time{white-space:nowrap}\n"
         "code{font-size:13px}section.failure{margin-top:1.6em}\n"
         "</style>\n</head>\n<body>\n";
    o << "<h1>Validation of "
      << xmlText(std::filesystem::path(report.plugin.path).filename().string())
      << "</h1>\n<p class=\"facts\">" << xmlText(report.plugin.path) << "<br>" << report.plugin.size
      << " bytes, SHA-256 <code>" << report.plugin.sha256 << "</code>"
      << (report.plugin.version.empty() ? "" : ", version " + xmlText(report.plugin.version))
      << "<br>seed " << report.seed << ", " << report.iterations << " random sequences, level "
      << report.level << ", vorn-host " << xmlText(report.hostVersion) << "</p>\n";
    o << "<p id=\"summary\"><strong>" << counts[0] + counts[5] << " passed, "
      << counts[1] + counts[2] + counts[3] << " failed</strong>"
      << (counts[4] ? ", " + std::to_string(counts[4]) + " skipped" : "")
      << (counts[5] ? ", " + std::to_string(counts[5]) + " with a warning" : "") << "</p>\n";
    o << "<table>\n<tr><th>check</th><th>topic</th><th>level</th><th>outcome</th><th>time</th>"
         "<th>what it checks; what it found</th></tr>\n";
    for (const CheckRecord& r : report.checks) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", r.seconds);
        o << "<tr><td>" << (r.found ? "<a href=\"#" + std::string(r.check->name) + "\">" : "")
          << xmlText(r.check->name) << (r.found ? "</a>" : "") << "</td><td>"
          << xmlText(r.check->topic) << "</td><td>" << r.check->level << "</td><td class=\"outcome "
          << outcomeWords[r.outcome] << "\">" << outcomeWords[r.outcome]
          << "</td><td class=\"time\">" << seconds << "</td><td>" << xmlText(r.check->what)
          << (r.detail.empty() ? "" : "<br><em>" + xmlText(r.detail) + "</em>") << "</td></tr>\n";
    }
    o << "</table>\n";
    for (const CheckRecord& r : report.checks) {
        if (!r.found) continue;
        o << "<section class=\"failure\" id=\"" << xmlText(r.check->name) << "\">\n<h2>"
          << xmlText(r.check->name) << ": " << xmlText(r.found->fault()) << "</h2>\n<p>"
          << xmlText(r.detail) << "</p>\n";
        if (r.shrunk) {
            o << "<p>Shrunk from " << r.shrunk->stepsBefore << " steps to " << r.shrunk->stepsAfter
              << " (" << r.shrunk->attempts << " trials"
              << (r.shrunk->limitReached ? ", stopped at the time limit" : "")
              << "): " << xmlText(r.shrunk->verdict.text) << "</p>\n";
            for (const Life& life : r.shrunk->trial.lives) {
                o << "<h3>" << xmlText(life.name) << "</h3>\n<pre class=\"steps\">";
                for (const Step& s : life.steps)
                    o << xmlText(formatStep(s)) << "\n";
                o << "</pre>\n";
            }
            o << "<h3>What the plug-in did</h3>\n<pre class=\"transcript\">";
            for (const std::string& line : r.shrunk->verdict.transcript)
                o << xmlText(line) << "\n";
            if (r.shrunk->verdict.transcript.empty())
                o << (r.shrunk->verdict.kind == TrialVerdict::Crashed ||
                              r.shrunk->verdict.kind == TrialVerdict::Exited ||
                              r.shrunk->verdict.kind == TrialVerdict::TimedOut
                          ? "(not known: its process ended)"
                          : "(nothing before the fault)");
            o << "</pre>\n";
        }
        if (!r.replayCommand.empty())
            o << "<p>Replay:</p>\n<pre class=\"replay\">" << xmlText(r.replayCommand) << "</pre>\n";
        if (!r.note.empty()) o << "<p>" << xmlText(r.note) << "</p>\n";
        o << "</section>\n";
    }
    o << "</body>\n</html>\n";
    return o.str();
}

bool writeFile(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) error = path + ": cannot write the report";
    return static_cast<bool>(out);
}

} // namespace

bool writeReports(const ValidationReport& report, const std::string& junitPath,
                  std::string& error) {
    SandboxMessage checks = SandboxMessage::array();
    std::vector<JUnitCase> cases;
    for (const CheckRecord& r : report.checks) {
        checks.push_back(recordJson(r, report.outDir));
        JUnitCase c;
        c.name = r.check->name;
        c.kind = r.counts()                          ? JUnitCase::Failure
                 : r.outcome == CheckRecord::Skipped ? JUnitCase::Skipped
                                                     : JUnitCase::Passed;
        c.message = std::string(r.check->name) + " " + outcomeWords[r.outcome] +
                    (r.detail.empty() ? "" : ": " + r.detail.substr(0, r.detail.find('\n')));
        c.detail = verdictLine(r);
        c.seconds = r.seconds;
        cases.push_back(c);
    }
    const SandboxMessage json = {{"vornHost", report.hostVersion},
                                 {"plugin",
                                  {{"path", report.plugin.path},
                                   {"size", report.plugin.size},
                                   {"sha256", report.plugin.sha256},
                                   {"version", report.plugin.version}}},
                                 {"seed", std::to_string(report.seed)},
                                 {"iterations", report.iterations},
                                 {"level", report.level},
                                 {"seconds", report.seconds},
                                 {"checks", checks}};
    const std::string suite = "vorn-host validate " + report.plugin.path;
    return writeFile(report.outDir + "/report.json", jsonText(json) + "\n", error) &&
           writeJUnit(report.outDir + "/report.xml", suite, cases, error) &&
           writeFile(report.outDir + "/report.html", htmlReport(report), error) &&
           (junitPath.empty() || writeJUnit(junitPath, suite, cases, error));
}
