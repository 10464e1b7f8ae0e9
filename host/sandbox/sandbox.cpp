#include "sandbox.h"

#include "crash_report.h"
#include "plugin.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// A check in a child process tells its parent that it goes on, at most ten times a second:
// a message that never returns shows as silence, judged after --hang seconds.
void (*progressHook)() = nullptr;
} // namespace

void sandboxProgress() {
    static auto last = std::chrono::steady_clock::time_point();
    if (!progressHook) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(100)) return;
    last = now;
    progressHook();
}

namespace {

// How a child ends its report: this byte, then R and the job's result. A report without it
// ended before its job returned, whatever the exit status says.
constexpr char verdictMark = '\x01';
std::string verdictRecord(const std::string& result) {
    return std::string(1, verdictMark) + "R" + result;
}

} // namespace

void sandboxChild(const std::string& what, const SandboxJob& job, int fd, bool crashesToParent) {
    static int reportTo = -1;
    reportTo = fd;
    progressHook = [] { (void)!write(reportTo, ".", 1); };
    crashReportSet(what.c_str());
    crashReportTo(crashesToParent ? fd : -1);
    DebugTap::instance().take(); // what an earlier job left behind is not this one's
    const std::string record = verdictRecord(job());
    for (std::size_t done = 0; done < record.size();) {
        const auto n = write(fd, record.data() + done, static_cast<unsigned>(record.size() - done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

namespace {

using Outcome = SandboxOutcome;

// The verdict of a child that ended by itself, from its report alone; how it ended (its exit
// status) only names what happened when the report has no verdict.
Outcome judged(const std::string& report, const std::string& howItEnded) {
    Outcome outcome;
    const std::size_t mark = report.find(verdictMark);
    if (mark == std::string::npos || mark + 1 >= report.size() || report[mark + 1] != 'R') {
        outcome.kind = Outcome::Ended;
        outcome.detail = howItEnded;
    } else {
        outcome.kind = Outcome::Finished;
        outcome.detail = report.substr(mark + 2);
    }
    return outcome;
}

// What a crashed child's report says of its crash ("vorn-host: the plug-in read a reply after
// handing it back ([read-after-loan]) in ..."), as ": what"; empty when it says nothing.
std::string crashLine(const std::string& report) {
    const std::string lead = "vorn-host: the plug-in ";
    const std::size_t at = report.find(lead);
    // "crashed (signal 11)" says no more than the signal itself.
    if (at == std::string::npos || report.compare(at + lead.size(), 7, "crashed") == 0) return {};
    std::string line = report.substr(at + lead.size());
    line = line.substr(0, line.find_first_of("\r\n"));
    return ": " + line.substr(0, line.find(" in the check "));
}

// Says how long a child may go on: false once it has run past the check's limit, or made no
// progress for the hang limit; then outcome says which.
class Watch {
public:
    explicit Watch(const SandboxLimits& options)
        : options_(options), start_(std::chrono::steady_clock::now()), last_(start_) {}
    void progressed() { last_ = std::chrono::steady_clock::now(); }
    // Milliseconds to wait for the child at most, before looking again (for a Ctrl-C to pass on
    // too: at most 200).
    long wait() const {
        const auto now = std::chrono::steady_clock::now();
        auto until = now + std::chrono::milliseconds(200);
        if (options_.seconds > 0)
            until = std::min(until, start_ + std::chrono::seconds(options_.seconds));
        if (options_.hangSeconds > 0)
            until = std::min(until, last_ + std::chrono::seconds(options_.hangSeconds));
        return std::max<long>(
            0, static_cast<long>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
    }
    bool expired(Outcome& outcome) const {
        const auto now = std::chrono::steady_clock::now();
        if (options_.seconds > 0 && now >= start_ + std::chrono::seconds(options_.seconds)) {
            outcome.kind = Outcome::TimedOut;
            outcome.detail = "after " + std::to_string(options_.seconds) + " s";
            return true;
        }
        if (options_.hangSeconds > 0 && now >= last_ + std::chrono::seconds(options_.hangSeconds)) {
            outcome.kind = Outcome::TimedOut;
            outcome.detail = "no progress for " + std::to_string(options_.hangSeconds) +
                             " s: a call into the plug-in did not return";
            return true;
        }
        return false;
    }

private:
    const SandboxLimits& options_;
    std::chrono::steady_clock::time_point start_, last_;
};

#ifdef _WIN32
// A child process of this program runs the job and prints what it found into a file; its exit
// code tells how it ended.
Outcome isolated(const SandboxChild& child, const SandboxLimits& options) {
    Outcome outcome;
    char exe[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, exe, MAX_PATH)) {
        outcome.detail = "cannot find vorn-host.exe itself";
        return outcome;
    }
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "vvc", 0, file);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // Shared for writing: a child that is not given it as its output opens it by name.
    HANDLE output = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    std::string command = std::string("\"") + exe + "\" " + child.arguments;
    if (!child.outputIsReport) command += std::string(" --report \"") + file + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = child.outputIsReport ? output : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = child.outputIsReport ? output : GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        CloseHandle(output);
        DeleteFileA(file);
        outcome.detail = "cannot start a child process";
        return outcome;
    }
    CloseHandle(output);
    // The report grows while the check makes progress.
    HANDLE report = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    Watch watch(options);
    LARGE_INTEGER seen{};
    bool expired = false;
    while (WaitForSingleObject(process.hProcess, static_cast<DWORD>(watch.wait())) ==
           WAIT_TIMEOUT) {
        LARGE_INTEGER size{};
        if (report != INVALID_HANDLE_VALUE && GetFileSizeEx(report, &size) &&
            size.QuadPart > seen.QuadPart) {
            seen = size;
            watch.progressed();
        }
        if (watch.expired(outcome)) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            expired = true;
            break;
        }
    }
    if (report != INVALID_HANDLE_VALUE) CloseHandle(report);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileA(file);
    if (expired) return outcome;
    // An exception ends a process with its code, which is never a small number.
    if (code > 255) {
        outcome.kind = Outcome::Crashed;
        char hex[32];
        std::snprintf(hex, sizeof hex, "exception 0x%08lx", static_cast<unsigned long>(code));
        outcome.detail = hex + crashLine(text);
        return outcome;
    }
    return judged(text, "exit status " + std::to_string(code));
}
#else
// A forked copy of this process runs the job and writes what it found into a pipe.
Outcome isolated(const std::string& what, const SandboxJob& job, bool crashesToParent,
                 const SandboxLimits& options) {
    Outcome outcome;
    int channel[2];
    if (pipe(channel) != 0) {
        outcome.detail = "cannot make a pipe";
        return outcome;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        close(channel[0]);
        close(channel[1]);
        outcome.detail = "cannot fork";
        return outcome;
    }
    if (pid == 0) {
        close(channel[0]);
        sandboxChild(what, job, channel[1], crashesToParent);
        std::cout.flush();
        std::cerr.flush();
        _exit(0);
    }
    close(channel[1]);
    std::string text;
    Watch watch(options);
    bool expired = false, passedOn = false;
    for (;;) {
        if (watch.expired(outcome)) {
            expired = true;
            break;
        }
        if (interrupted() && !passedOn) { // Ctrl-C to this process only: the job's to handle
            kill(pid, SIGINT);
            passedOn = true;
        }
        pollfd wait{channel[0], POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(watch.wait()));
        if (ready <= 0) continue; // interrupted, or a limit to look at again
        char chunk[4096];
        const ssize_t n = read(channel[0], chunk, sizeof chunk);
        if (n <= 0) break; // the child is done with it
        text.append(chunk, static_cast<std::size_t>(n));
        watch.progressed();
    }
    close(channel[0]);
    if (expired) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (expired) return outcome;
    if (WIFSIGNALED(status)) {
        outcome.kind = Outcome::Crashed;
        outcome.detail = "signal " + std::to_string(WTERMSIG(status)) + crashLine(text);
        return outcome;
    }
    return judged(text, "exit status " + std::to_string(WEXITSTATUS(status)));
}
#endif

} // namespace

SandboxOutcome sandboxRun(const std::string& what, const SandboxJob& job, const SandboxChild& child,
                          const SandboxLimits& limits) {
#ifdef _WIN32
    (void)what;
    (void)job;
    return isolated(child, limits);
#else
    return isolated(what, job, child.outputIsReport, limits);
#endif
}

SandboxConversation::~SandboxConversation() {
    stop();
}

bool SandboxConversation::takeAnswer(std::string& answer) {
    for (std::size_t eol; (eol = pending_.find('\n')) != std::string::npos;) {
        std::string line = pending_.substr(0, eol);
        pending_.erase(0, eol + 1);
        if (!line.empty() && line[0] == sandboxAnswerMark) {
            answer = line.substr(1);
            return true;
        }
        // Not the job's: what else wrote to the child's output (a debugger's crash dump).
        std::cerr << line << "\n";
    }
    return false;
}

#ifdef _WIN32
bool SandboxConversation::start(const std::string&, const Serve&, const std::string& arguments) {
    stop();
    outcome_ = SandboxOutcome();
    char exe[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, exe, MAX_PATH)) {
        outcome_.detail = "cannot find vorn-host.exe itself";
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return false;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return false;
    }
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    std::string command = std::string("\"") + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL made = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!made) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        outcome_.detail = "cannot start a child process";
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    toChild_ = inWrite;
    fromChild_ = outRead;
    running_ = true;
    pending_.clear();
    return true;
}

bool SandboxConversation::ask(const std::string& line, std::string& answer, int seconds) {
    if (!running_) return false;
    const std::string text = line + "\n";
    DWORD written = 0;
    if (!WriteFile(toChild_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        ended(false, seconds);
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (takeAnswer(answer)) return true;
        DWORD available = 0;
        if (!PeekNamedPipe(fromChild_, nullptr, 0, nullptr, &available, nullptr)) {
            ended(false, seconds);
            return false;
        }
        if (available == 0) {
            if (seconds > 0 && std::chrono::steady_clock::now() >= until) {
                ended(true, seconds);
                return false;
            }
            Sleep(5);
            continue;
        }
        char chunk[4096];
        DWORD n = 0;
        if (!ReadFile(fromChild_, chunk, std::min<DWORD>(available, sizeof chunk), &n, nullptr) ||
            n == 0) {
            ended(false, seconds);
            return false;
        }
        pending_.append(chunk, n);
    }
}

void SandboxConversation::ended(bool timedOut, int seconds) {
    if (timedOut) TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    if (timedOut) {
        outcome_.kind = SandboxOutcome::TimedOut;
        outcome_.detail = "no answer within " + std::to_string(seconds) + " s";
    } else if (code > 255) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "exception 0x%08lx", static_cast<unsigned long>(code));
        outcome_.kind = SandboxOutcome::Crashed;
        outcome_.detail = hex;
    } else {
        outcome_.kind = SandboxOutcome::Ended;
        outcome_.detail = "exit status " + std::to_string(code);
    }
    stop();
}

void SandboxConversation::stop() {
    if (toChild_) CloseHandle(toChild_);
    if (fromChild_) CloseHandle(fromChild_);
    if (process_) {
        if (running_ && WaitForSingleObject(process_, 2000) == WAIT_TIMEOUT)
            TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
    toChild_ = fromChild_ = process_ = nullptr;
    running_ = false;
}
#else
bool SandboxConversation::start(const std::string& what, const Serve& serve, const std::string&) {
    stop();
    outcome_ = SandboxOutcome();
    int down[2], up[2];
    if (pipe(down) != 0) return false;
    if (pipe(up) != 0) {
        close(down[0]);
        close(down[1]);
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {down[0], down[1], up[0], up[1]})
            close(fd);
        outcome_.detail = "cannot fork";
        return false;
    }
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        // The parent's threads are not here; its signal handlers are. Ctrl-C is the parent's.
        signal(SIGINT, SIG_IGN);
        crashReportSet(what.c_str());
        serve(down[0], up[1]);
        _exit(0);
    }
    close(down[0]);
    close(up[1]);
    pid_ = pid;
    toChild_ = down[1];
    fromChild_ = up[0];
    running_ = true;
    pending_.clear();
    return true;
}

bool SandboxConversation::ask(const std::string& line, std::string& answer, int seconds) {
    if (!running_) return false;
    const std::string text = line + "\n";
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(toChild_, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            ended(false, seconds);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (takeAnswer(answer)) return true;
        int wait = 200;
        if (seconds > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  until - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                ended(true, seconds);
                return false;
            }
            wait = static_cast<int>(std::min<long long>(left, 200));
        }
        pollfd ready{fromChild_, POLLIN, 0};
        if (poll(&ready, 1, wait) <= 0) continue;
        char chunk[65536];
        const ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended(false, seconds);
            return false;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

void SandboxConversation::ended(bool timedOut, int seconds) {
    if (timedOut) kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (timedOut) {
        outcome_.kind = SandboxOutcome::TimedOut;
        outcome_.detail = "no answer within " + std::to_string(seconds) + " s";
    } else if (WIFSIGNALED(status)) {
        outcome_.kind = SandboxOutcome::Crashed;
        outcome_.detail = "signal " + std::to_string(WTERMSIG(status));
    } else {
        outcome_.kind = SandboxOutcome::Ended;
        outcome_.detail = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    stop();
}

void SandboxConversation::stop() {
    if (toChild_ >= 0) close(toChild_); // the child sees the end of its input and ends
    if (fromChild_ >= 0) close(fromChild_);
    toChild_ = fromChild_ = -1;
    if (pid_ > 0) {
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            usleep(20000);
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    pid_ = -1;
    running_ = false;
}
#endif
