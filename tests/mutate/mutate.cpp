// vorn-mutate: the project's own mutation run. It puts small faults into the plug-in's code one
// at a time (a comparison flipped, a condition negated, a statement removed, a constant moved by
// one, a truth value swapped), builds each mutant and runs the suite on it: a mutant the suite
// passes has survived, and shows behaviour no test holds.
//
// The sites are found line by line in the sources under --paths, with comments, string and
// character literals and preprocessor lines left alone; a seeded draw picks --count of them.
// Every file is restored after its mutant, on Ctrl-C or SIGTERM, and, should the run be killed
// outright, at the start of the next run from the journal it leaves.
//
// Rationale: no mutation tool is packaged for this machine, and a textual one is enough for
// code formatted by the project's .clang-format (binary operators have blanks around them,
// template brackets have none).

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t stopping = 0;
void onSignal(int) {
    stopping = 1;
}

struct Mutant {
    std::string file;              // relative to the source folder
    int line = 0;                  // 1-based
    std::string original, mutated; // the whole line, before and after
    std::string rule;              // which kind of fault
};

std::string trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") + 1 - a);
}

bool readFile(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return static_cast<bool>(in) || in.eof();
}

bool writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

// The line with comments, and the insides of string and character literals, made blanks, so
// that only code is mutated; "inComment" carries a block comment over lines.
std::string codeOf(const std::string& line, bool& inComment) {
    std::string code(line.size(), ' ');
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (inComment) {
            if (line.compare(i, 2, "*/") == 0) {
                inComment = false;
                ++i;
            }
            continue;
        }
        if (line.compare(i, 2, "//") == 0) break;
        if (line.compare(i, 2, "/*") == 0) {
            inComment = true;
            ++i;
            continue;
        }
        const char c = line[i];
        if (c == '"' || c == '\'') {
            code[i] = c;
            for (++i; i < line.size() && line[i] != c; ++i)
                if (line[i] == '\\') ++i;
            if (i < line.size()) code[i] = c;
            continue;
        }
        code[i] = c;
    }
    return code;
}

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool startsWithWord(const std::string& s, const char* word) {
    const std::size_t n = std::char_traits<char>::length(word);
    return s.compare(0, n, word) == 0 && (s.size() == n || !isWordChar(s[n]));
}

bool balanced(const std::string& code) {
    int depth = 0;
    for (char c : code) {
        depth += c == '(';
        depth -= c == ')';
        if (depth < 0) return false;
    }
    return depth == 0;
}

// A statement on one line that only calls or assigns: removing it is a fault a test should see.
bool removableStatement(const std::string& code) {
    const std::string t = trim(code);
    if (t.size() < 3 || t.back() != ';' || !balanced(t)) return false;
    for (const char* keyword :
         {"return",        "if",    "while",   "for",    "switch", "case",  "delete",   "throw",
          "static_assert", "using", "typedef", "else",   "do",     "break", "continue", "default",
          "goto",          "new",   "const",   "static", "auto"})
        if (startsWithWord(t, keyword)) return false;
    // One name (with members, scopes or an index) and then a call or an assignment: a
    // declaration has two names before either.
    std::size_t i = 0;
    while (i < t.size() && (isWordChar(t[i]) || t[i] == ':' || t[i] == '.' || t[i] == '[' ||
                            t[i] == ']' || (t[i] == '-' && i + 1 < t.size() && t[i + 1] == '>') ||
                            (t[i] == '>' && i > 0 && t[i - 1] == '-')))
        ++i;
    if (i == 0) return false;
    if (t[i] == '(') return t.compare(t.size() - 2, 2, ");") == 0;
    for (const char* assign : {" = ", " += ", " -= ", " |= ", " &= "})
        if (t.compare(i, std::char_traits<char>::length(assign), assign) == 0) return true;
    return false;
}

// Whether a preprocessor condition holds when this suite's build compiles the file: 1, 0, or
// -1 when it names something not known here (then every branch counts as compiled). Only
// what the code's conditions use: defined(X), !, && and ||, with the platform's macros.
int conditionHolds(std::string expression) {
    static const std::pair<const char*, int> macros[] = {
        {"_WIN32", 0},   {"_WIN64", 0},   {"_MSC_VER", 0},  {"__APPLE__", 0},
        {"__i386__", 0}, {"__GNUC__", 1}, {"__linux__", 1}, {"__x86_64__", 1},
    };
    for (const auto& [name, value] : macros)
        for (const std::string& form : {"defined(" + std::string(name) + ")",
                                        "defined " + std::string(name), std::string(name)})
            for (std::size_t at; (at = expression.find(form)) != std::string::npos;)
                expression.replace(at, form.size(), value ? "1" : "0");
    std::string e;
    for (char c : expression)
        if (c != ' ' && c != '\t') e += c;
    // Reduced by rewriting until only a truth is left.
    for (bool changed = true; changed;) {
        changed = false;
        for (const auto& [from, to] : {std::pair{"!0", "1"},
                                       {"!1", "0"},
                                       {"(0)", "0"},
                                       {"(1)", "1"},
                                       {"1&&1", "1"},
                                       {"1&&0", "0"},
                                       {"0&&1", "0"},
                                       {"0&&0", "0"},
                                       {"1||1", "1"},
                                       {"1||0", "1"},
                                       {"0||1", "1"},
                                       {"0||0", "0"}})
            for (std::size_t at; (at = e.find(from)) != std::string::npos; changed = true)
                e.replace(at, std::char_traits<char>::length(from), to);
    }
    return e == "1" ? 1 : e == "0" ? 0 : -1;
}

// Follows #if, #ifdef, #ifndef, #elif, #else and #endif: whether the lines after one are
// compiled by this suite's build. A mutant in a branch it does not compile (the Windows one)
// can never be caught here, and is not drawn.
class Compiled {
public:
    void line(const std::string& directive) {
        std::istringstream words(directive.substr(1));
        std::string word, rest;
        words >> word;
        std::getline(words, rest);
        if (word == "ifdef" || word == "ifndef" || word == "if") {
            int holds =
                word == "if" ? conditionHolds(rest) : conditionHolds("defined " + trim(rest));
            if (word == "ifndef" && holds >= 0) holds = !holds;
            frames_.push_back({holds, holds == 1});
        } else if ((word == "elif" || word == "else") && !frames_.empty()) {
            Frame& f = frames_.back();
            const int holds = word == "else" ? 1 : conditionHolds(rest);
            f.holds = f.taken ? 0 : holds;
            f.taken = f.taken || holds == 1;
        } else if (word == "endif" && !frames_.empty()) {
            frames_.pop_back();
        }
    }
    bool compiled() const {
        for (const Frame& f : frames_)
            if (f.holds == 0) return false;
        return true;
    }

private:
    struct Frame {
        int holds;  // 1, 0, or -1 unknown
        bool taken; // a branch before this one held
    };
    std::vector<Frame> frames_;
};

void sitesOf(const std::string& file, const std::vector<std::string>& lines,
             std::vector<Mutant>& out) {
    static const std::pair<const char*, const char*> swaps[] = {
        {" == ", " != "}, {" != ", " == "}, {" < ", " <= "},  {" <= ", " < "},
        {" > ", " >= "},  {" >= ", " > "},  {" && ", " || "}, {" || ", " && "},
        {" + ", " - "},   {" - ", " + "},   {" += ", " -= "}, {" -= ", " += "},
    };
    bool inComment = false;
    Compiled compiled;
    bool inDirective = false; // a directive's continued lines (a macro's body)
    int assertDepth = 0;      // inside a static_assert, which only the compiler checks
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        const std::string code = codeOf(line, inComment);
        const std::string t = trim(code);
        const bool directive = inDirective || (!t.empty() && t[0] == '#');
        if (!inDirective && directive) compiled.line(t);
        inDirective = directive && !t.empty() && t.back() == '\\';
        if (startsWithWord(t, "static_assert") || assertDepth > 0) {
            for (char c : t)
                assertDepth += (c == '(') - (c == ')');
            if (assertDepth < 0) assertDepth = 0;
            continue;
        }
        if (t.empty() || directive || !compiled.compiled()) continue;
        auto add = [&](std::size_t at, std::size_t length, const std::string& with,
                       const char* rule) {
            Mutant m{file, static_cast<int>(n + 1), line, line, rule};
            m.mutated.replace(at, length, with);
            out.push_back(m);
        };
        for (const auto& [from, to] : swaps)
            for (std::size_t at = code.find(from); at != std::string::npos;
                 at = code.find(from, at + 1))
                add(at, std::char_traits<char>::length(from), to, "operator");
        for (std::size_t i = 0; i < code.size(); ++i) {
            const bool wordBefore = i > 0 && (isWordChar(code[i - 1]) || code[i - 1] == '.');
            // A negation taken away: "!x" and "!(...)", not "!=".
            if (code[i] == '!' && i + 1 < code.size() && code[i + 1] != '=')
                add(i, 1, "", "negation");
            if (wordBefore) continue;
            // "= 0" of a pure virtual function is no constant.
            const bool pure =
                startsWithWord(t, "virtual") && i >= 2 && code.compare(i - 2, 2, "= ") == 0;
            if (std::isdigit(static_cast<unsigned char>(code[i])) && !pure) {
                std::size_t j = i;
                while (j < code.size() && std::isdigit(static_cast<unsigned char>(code[j])))
                    ++j;
                const bool partOfLiteral =
                    j < code.size() && (isWordChar(code[j]) || code[j] == '.');
                if (!partOfLiteral && j - i < 10) {
                    const long long value = std::stoll(code.substr(i, j - i));
                    add(i, j - i, std::to_string(value + 1), "constant");
                    if (value > 0) add(i, j - i, std::to_string(value - 1), "constant");
                }
                i = j;
                continue;
            }
            for (const auto& [from, to] :
                 {std::pair{"true", "false"}, std::pair{"false", "true"}}) {
                const std::size_t length = std::char_traits<char>::length(from);
                if (code.compare(i, length, from) == 0 &&
                    (i + length == code.size() || !isWordChar(code[i + length])))
                    add(i, length, to, "truth");
            }
        }
        if (removableStatement(code)) {
            const std::size_t at = code.find_first_not_of(" \t");
            add(at, line.size() - at, ";", "removed");
        }
    }
}

// The survivors judged equivalent: "FILE: ORIGINAL -> MUTANT | WHY", lines trimmed.
struct Equivalents {
    std::map<std::string, std::string> why; // "FILE: ORIGINAL -> MUTANT" -> why
    std::set<std::string> used;
};

std::string keyOf(const Mutant& m) {
    return m.file + ": " + trim(m.original) + " -> " + trim(m.mutated);
}

bool loadEquivalents(const fs::path& path, Equivalents& list, std::string& error) {
    if (path.empty()) return true;
    std::string text;
    if (!readFile(path, text)) {
        error = path.string() + ": cannot be read";
        return false;
    }
    int n = 0;
    for (const std::string& raw : splitLines(text)) {
        ++n;
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t bar = line.rfind(" | ");
        const std::string key = bar == std::string::npos ? line : trim(line.substr(0, bar));
        const std::string why = bar == std::string::npos ? "" : trim(line.substr(bar + 3));
        if (key.find(": ") == std::string::npos || key.find(" -> ") == std::string::npos ||
            why.empty()) {
            error = path.string() + ":" + std::to_string(n) +
                    ": expected 'FILE: ORIGINAL -> MUTANT | WHY', a reason a reviewer can check";
            return false;
        }
        list.why[key] = why;
    }
    return true;
}

// Runs a command through the shell in a process group of its own, its output to "log"; its
// exit status, or 128 + a signal. A stop asked for meanwhile ends the whole group.
int runCommand(const std::string& command, const fs::path& log) {
    std::cout.flush(); // what is buffered is written once, not again by the child
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) {
        setpgid(0, 0);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        if (std::freopen(log.c_str(), "w", stdout) && std::freopen(log.c_str(), "a", stderr))
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    int status = 0;
    bool ended = false;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
        if (stopping && !ended) {
            kill(-pid, SIGTERM);
            ended = true;
        }
    }
    if (ended) return 128 + SIGTERM;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The journal: the file a mutant is in, then its text as it was, so a killed run's mutant
// is undone by the next run.
bool restoreFromJournal(const fs::path& journal, const fs::path& source) {
    std::string text;
    if (!fs::exists(journal) || !readFile(journal, text)) return true;
    const std::size_t end = text.find('\n');
    if (end == std::string::npos) return false;
    const fs::path file = source / text.substr(0, end);
    if (!writeFile(file, text.substr(end + 1))) return false;
    std::cout << "restored " << text.substr(0, end) << " from an interrupted run\n";
    fs::remove(journal);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Mutation run over the plug-in's code: each mutant built and tested in turn."};
    std::string source = ".";
    std::vector<std::string> paths = {"platform", "script_helper", "panels/components"};
    std::string build, test, equivalentFile, journalFile, logDir;
    int count = 300;
    unsigned seed = 1;
    double minScore = 0;
    bool listOnly = false;
    app.add_option("--source", source, "the tree whose files are mutated")->capture_default_str();
    app.add_option("--paths", paths, "folders of the tree, mutated")->capture_default_str();
    app.add_option("--build", build, "the command that builds a mutant")->required();
    app.add_option("--test", test, "the command that tests it: a non-zero exit kills it")
        ->required();
    app.add_option("--count", count, "mutants drawn")->capture_default_str();
    app.add_option("--seed", seed, "the draw's seed")->capture_default_str();
    app.add_option("--equivalent", equivalentFile, "survivors judged equivalent, each with why");
    app.add_option("--journal", journalFile, "where the file being mutated is kept")->required();
    app.add_option("--logs", logDir, "where each command's output goes")->required();
    app.add_option("--min-score", minScore, "fail below this percentage");
    app.add_flag("--list", listOnly, "only print the mutants drawn");
    CLI11_PARSE(app, argc, argv);

    const fs::path root = source;
    if (!restoreFromJournal(journalFile, root)) {
        std::cerr << "vorn-mutate: " << journalFile << ": cannot restore the file it names\n";
        return 2;
    }
    Equivalents equivalents;
    std::string error;
    if (!loadEquivalents(equivalentFile, equivalents, error)) {
        std::cerr << "vorn-mutate: " << error << "\n";
        return 2;
    }

    // Every site, in a fixed order, then the draw.
    std::vector<Mutant> all;
    std::map<std::string, std::string> texts;
    std::vector<fs::path> files;
    for (const std::string& p : paths) {
        if (!fs::is_directory(root / p)) {
            std::cerr << "vorn-mutate: " << (root / p).string() << ": no such folder\n";
            return 2;
        }
        for (const auto& e : fs::recursive_directory_iterator(root / p)) {
            const std::string ext = e.path().extension().string();
            const std::string rel = fs::relative(e.path(), root).generic_string();
            if (e.is_regular_file() && (ext == ".cpp" || ext == ".h") &&
                rel.find("/tests/") == std::string::npos)
                files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        const std::string rel = fs::relative(f, root).generic_string();
        if (!readFile(f, texts[rel])) {
            std::cerr << "vorn-mutate: " << rel << ": cannot be read\n";
            return 2;
        }
        sitesOf(rel, splitLines(texts[rel]), all);
    }
    // Each mutant's place in the draw comes from the seed and what it is (its file, its line's
    // text before and after), not from where it stands: an edit elsewhere leaves the rest of a
    // draw as it was, so a run after a fix meets the same mutants again.
    std::map<std::string, int> seen;
    std::vector<std::pair<std::uint64_t, std::size_t>> order;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string key = keyOf(all[i]) + "#" + std::to_string(seen[keyOf(all[i])]++);
        std::uint64_t h = 14695981039346656037ull ^ seed;
        for (unsigned char c : key)
            h = (h ^ c) * 1099511628211ull;
        order.emplace_back(h, i);
    }
    std::sort(order.begin(), order.end());
    std::vector<Mutant> drawn;
    for (const auto& [hash, i] : order)
        drawn.push_back(all[i]);
    all = std::move(drawn);
    if (static_cast<std::size_t>(count) < all.size()) all.resize(static_cast<std::size_t>(count));
    std::cout << "vorn-mutate: " << all.size() << " mutants drawn (seed " << seed << ") from "
              << files.size() << " files\n";
    if (listOnly) {
        for (const Mutant& m : all)
            std::cout << m.file << ":" << m.line << ": " << trim(m.original) << " -> "
                      << trim(m.mutated) << "  [" << m.rule << "]\n";
        return 0;
    }

    // Without SA_RESTART: a signal ends the wait for the command, which is then ended too.
    struct sigaction stop = {};
    stop.sa_handler = onSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    fs::create_directories(logDir);
    const auto started = std::chrono::steady_clock::now();
    int ran = 0, notBuilt = 0, killed = 0, equivalentSurvivors = 0;
    std::vector<std::string> survivors, killedButListed;
    for (const Mutant& m : all) {
        if (stopping) break;
        const std::string& text = texts[m.file];
        std::vector<std::string> lines = splitLines(text);
        lines[static_cast<std::size_t>(m.line) - 1] = m.mutated;
        std::string mutated;
        for (std::size_t i = 0; i < lines.size(); ++i)
            mutated += lines[i] + (i + 1 < lines.size() || text.back() == '\n' ? "\n" : "");
        if (!writeFile(journalFile, m.file + "\n" + text) || !writeFile(root / m.file, mutated)) {
            std::cerr << "vorn-mutate: cannot write " << m.file << " or the journal\n";
            writeFile(root / m.file, text);
            return 2;
        }
        const int built = runCommand(build, fs::path(logDir) / "build.log");
        int tested = -1;
        if (built == 0 && !stopping) tested = runCommand(test, fs::path(logDir) / "test.log");
        const bool restored = writeFile(root / m.file, text);
        if (restored) fs::remove(journalFile);
        if (!restored) {
            std::cerr << "vorn-mutate: cannot restore " << m.file << " (the journal " << journalFile
                      << " keeps it)\n";
            return 2;
        }
        if (stopping || built >= 128 || tested >= 128) {
            stopping = 1;
            break;
        }
        ++ran;
        const std::string where = m.file + ":" + std::to_string(m.line) + ": " + trim(m.original) +
                                  " -> " + trim(m.mutated);
        const auto listed = equivalents.why.find(keyOf(m));
        std::string outcome;
        if (built != 0) {
            ++notBuilt;
            outcome = "not built";
        } else if (tested != 0) {
            ++killed;
            outcome = "killed";
            if (listed != equivalents.why.end()) killedButListed.push_back(keyOf(m));
        } else if (listed != equivalents.why.end()) {
            ++equivalentSurvivors;
            equivalents.used.insert(listed->first);
            outcome = "equivalent (" + listed->second + ")";
        } else {
            survivors.push_back(where);
            outcome = "SURVIVED";
        }
        std::cout << "[" << ran << "/" << all.size() << "] " << outcome << "  " << where << "\n"
                  << std::flush;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int scored = ran - notBuilt - equivalentSurvivors;
    const double score = scored > 0 ? 100.0 * killed / scored : 100.0;
    std::cout << "\n";
    if (stopping)
        std::cout << "interrupted: every file is restored; the figures are of " << ran
                  << " mutants\n";
    for (const std::string& s : survivors)
        std::cout << "survived: " << s << "\n";
    for (const std::string& k : killedButListed)
        std::cout << "listed as equivalent but killed (take it off the list): " << k << "\n";
    char line[400];
    std::snprintf(line, sizeof line,
                  "mutants: %d run, %d not built, %d killed, %zu survived, %d listed as "
                  "equivalent (left out)\nscore: %d / %d = %.1f%%; %.1f s a mutant\n",
                  ran, notBuilt, killed, survivors.size(), equivalentSurvivors, killed, scored,
                  score, ran ? seconds / ran : 0.0);
    std::cout << line;
    if (stopping) return 130;
    if (!killedButListed.empty()) return 1;
    if (minScore > 0 && score < minScore) {
        std::cout << "below the " << minScore << "% this run must reach\n";
        return 1;
    }
    return 0;
}
