#include "config_check.h"

#include "facility.h"
#include "lives.h"
#include "plugin.h"
#include "sandbox.h"
#include "step.h"
#include "vorn_file.h"
#include "vorn_ini.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <set>

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// " (did you mean 'x'?)", or nothing when no known name is near.
std::string hint(const std::string& name, const std::vector<std::string>& known) {
    const std::string near = closestName(name, known);
    return near.empty() ? "" : " (did you mean '" + near + "'?)";
}

// Whether what a comment took off a value looks like part of it: a colour ("#d00000"), or a
// value left open (a ':' at its end, a parenthesis or brace not closed).
bool looksCut(const std::string& value, const std::string& rest) {
    if (!value.empty() && value.back() == ':') return true;
    if (std::count(value.begin(), value.end(), '(') > std::count(value.begin(), value.end(), ')'))
        return true;
    if (std::count(value.begin(), value.end(), '{') > std::count(value.begin(), value.end(), '}'))
        return true;
    std::size_t digits = 0;
    while (rest.size() > digits + 1 && std::isxdigit(static_cast<unsigned char>(rest[digits + 1])))
        ++digits;
    return rest[0] == '#' && digits >= 3 && digits <= 8 &&
           (rest.size() == digits + 1 ||
            !std::isalnum(static_cast<unsigned char>(rest[digits + 1])));
}

struct Attribute {
    int line;
    std::string name, value;
};
struct Section {
    int line;
    std::string name;
    std::vector<Attribute> attributes;
};

const std::vector<std::string> instanceAttributes = {"device", "contact", "idtext", "reply"};
const std::vector<std::string> sectionKinds = {"instances", "devices", "tiles"};

// Asks the component its words, in the child.
const SandboxJobType wordsJob{"words", [](const SandboxMessage& job, SandboxChildSide& side) {
                                  Plugin plugin;
                                  std::string error;
                                  if (!plugin.open(job.value("plugin", ""), error)) {
                                      side.result({{"loaded", false}, {"found", error}});
                                      return;
                                  }
                                  std::vector<std::string> names;
                                  for (const ComponentWords::Entry& e : learnWords(plugin).settings)
                                      names.push_back(e.name);
                                  side.result({{"loaded", true}, {"settings", names}});
                              }};

} // namespace

std::string closestName(const std::string& name, const std::vector<std::string>& known) {
    const std::string wanted = lower(name);
    for (const std::string& k : known)
        if (lower(k) == wanted) return k;
    // A few edits, fewer for short names: 'devcie' is 'device', 'x' is nothing.
    const std::size_t allowed = std::min<std::size_t>(3, std::max<std::size_t>(1, name.size() / 3));
    std::string best;
    std::size_t bestDistance = SIZE_MAX;
    for (const std::string& k : known) {
        const std::size_t d = editDistance(wanted, lower(k));
        if (d <= allowed && d < bestDistance) {
            best = k;
            bestDistance = d;
        }
    }
    return best;
}

bool checkConfig(const std::string& path, const KnownSettings& settings,
                 std::vector<ConfigFinding>& findings) {
    vorn_file_version version;
    std::string text;
    if (!vorn_file_stat(path.c_str(), version) ||
        vorn_file_read_whole(path.c_str(), SIZE_MAX, version, text) != vorn_file_read::Read) {
        findings.push_back({ConfigFinding::Malformed, 0, "cannot read the file"});
        return false;
    }
    // What run and serve refuse: lines no reader uses, numbers that are not numbers.
    Facility facility;
    std::vector<ConfigProblem> problems;
    facility.load(path, problems);
    for (const ConfigProblem& p : problems)
        findings.push_back({ConfigFinding::Malformed, p.line, p.text});

    std::vector<Section> sections;
    vorn_ini::scan(text.data(), text.size(), [&](const vorn_ini::Line& line) {
        if (line.kind == vorn_ini::Line::Section)
            sections.push_back({line.number, std::string(line.name, line.nameSize), {}});
        else if (line.kind == vorn_ini::Line::Attribute && !sections.empty())
            sections.back().attributes.push_back({line.number,
                                                  std::string(line.name, line.nameSize),
                                                  std::string(line.value, line.valueSize)});
    });
    std::vector<std::string> instances;
    for (const Section& s : sections)
        if (s.name.rfind("instances.", 0) == 0) instances.push_back(s.name.substr(10));

    const std::vector<std::string> raw = splitLines(text);
    for (const Section& s : sections) {
        const std::string kind = s.name.substr(0, s.name.find('.'));
        const bool known =
            std::find(sectionKinds.begin(), sectionKinds.end(), kind) != sectionKinds.end();
        if (!known) {
            // Other sections may be the platform's own; only a near miss is said.
            const std::string near = closestName(kind, sectionKinds);
            if (!near.empty())
                findings.push_back({ConfigFinding::Unknown, s.line,
                                    "[" + s.name +
                                        "]: no reader knows this section (did you mean [" + near +
                                        s.name.substr(kind.size()) + "]?)"});
            continue;
        }
        const bool tile = kind == "tiles";
        std::set<std::string> given;
        for (const Attribute& a : s.attributes) {
            given.insert(a.name);
            const std::string where = "[" + s.name + "] " + a.name;
            // A comment mark after a blank ends the value: what follows is lost.
            const std::string& line = raw[static_cast<std::size_t>(a.line - 1)];
            const std::string written = trimmed(line.substr(line.find('=') + 1));
            if (written.size() > a.value.size() && written.front() != '"') {
                const std::string rest = trimmed(written.substr(a.value.size()));
                if (!rest.empty() && (tile || looksCut(a.value, rest)))
                    findings.push_back({ConfigFinding::Unknown, a.line,
                                        where + ": the value is cut at '" + rest.substr(0, 1) +
                                            "' (a comment starts after a blank) and reads '" +
                                            a.value + "'; quote the value: " + a.name + " = \"" +
                                            written + "\""});
            }
            if (kind == "instances" &&
                std::find(instanceAttributes.begin(), instanceAttributes.end(), a.name) ==
                    instanceAttributes.end())
                findings.push_back({ConfigFinding::Unknown, a.line,
                                    where + ": no reader knows this attribute" +
                                        hint(a.name, instanceAttributes)});
            if (tile && a.name == "instance" &&
                std::find(instances.begin(), instances.end(), a.value) == instances.end())
                findings.push_back({ConfigFinding::Unknown, a.line,
                                    where + ": no instance '" + a.value + "' in this file" +
                                        hint(a.value, instances)});
            if (tile && a.name != "instance" && settings.known &&
                std::find(settings.names.begin(), settings.names.end(), a.name) ==
                    settings.names.end())
                findings.push_back(
                    {ConfigFinding::Unknown, a.line,
                     where + ": the component has no such setting" + hint(a.name, settings.names)});
        }
        if (kind == "instances" && !given.count("reply"))
            for (const char* needed : {"device", "contact"})
                if (!given.count(needed))
                    findings.push_back({ConfigFinding::Unknown, s.line,
                                        "[" + s.name + "]: no " + needed +
                                            " (an instance names its device and contact)"});
    }
    std::stable_sort(
        findings.begin(), findings.end(),
        [](const ConfigFinding& a, const ConfigFinding& b) { return a.line < b.line; });
    return true;
}

bool learnSettings(const std::string& plugin, KnownSettings& settings, std::string& error) {
    const SandboxOutcome outcome =
        sandboxRun(wordsJob, {{"plugin", plugin}}, "asking the component its settings",
                   SandboxLimits{30, 10}, SandboxOutput::Discard);
    if (outcome.kind != SandboxOutcome::Finished) {
        error = "cannot ask " + plugin + " its settings: " + outcome.describe();
        return false;
    }
    if (!outcome.result.value("loaded", false)) {
        error = outcome.result.value("found", "cannot load " + plugin);
        return false;
    }
    settings.known = true;
    settings.names = outcome.result.value("settings", std::vector<std::string>{});
    return true;
}

std::string describeFindings(const std::string& path, const std::vector<ConfigFinding>& findings) {
    std::string text;
    for (const ConfigFinding& f : findings)
        text += path + (f.line > 0 ? ":" + std::to_string(f.line) : "") + ": " + f.text + "\n";
    return text;
}

int checkCommand(const std::string& path, const std::string& plugin, const std::string& noPlugin,
                 std::ostream& out, std::ostream& err) {
    KnownSettings settings;
    if (!plugin.empty()) {
        std::string error;
        if (!learnSettings(plugin, settings, error)) {
            err << "vorn-host: " << error << "\n";
            return 2;
        }
    }
    std::vector<ConfigFinding> findings;
    const bool read = checkConfig(path, settings, findings);
    out << describeFindings(path, findings);
    const bool malformed =
        !read || std::any_of(findings.begin(), findings.end(), [](const ConfigFinding& f) {
            return f.kind == ConfigFinding::Malformed;
        });
    out << path << ": "
        << (findings.empty() ? "no problems"
                             : std::to_string(findings.size()) +
                                   (findings.size() == 1 ? " problem" : " problems"))
        << (settings.known ? "; tile settings checked against " + plugin
                           : "; tile settings not checked (" + noPlugin + ")")
        << "\n";
    return malformed ? 2 : findings.empty() ? 0 : 1;
}
