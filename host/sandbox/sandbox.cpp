#include "sandbox.h"

#include "crash_report.h"
#include "plugin.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::map<std::string, const SandboxJobType*>& jobTypes() {
    static std::map<std::string, const SandboxJobType*> types;
    return types;
}

int progressTo = -1; // the channel, in a child

// One message a line.
std::string framed(const SandboxMessage& message) {
    return jsonText(message) + "\n";
}

// The next whole line of "pending", parsed; lines that are not JSON objects are passed over.
bool takeMessage(std::string& pending, SandboxMessage& message) {
    for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        SandboxMessage m =
            SandboxMessage::parse(pending.begin(), pending.begin() + eol, nullptr, false);
        pending.erase(0, eol + 1);
        if (m.is_object() && m.contains("type") && m["type"].is_string()) {
            message = std::move(m);
            return true;
        }
    }
    return false;
}

} // namespace

std::string jsonText(const SandboxMessage& value) {
    return value.dump(-1, ' ', false, SandboxMessage::error_handler_t::replace);
}

#ifdef _WIN32
bool sandboxWriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const int n = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
#else
bool sandboxWriteAll(int fd, const std::string& text) {
    // SIGPIPE blocked for this thread while it writes; one that the write raised is taken back,
    // one that was pending before is left for its owner.
    sigset_t pipeSignal, before, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    bool ok = true;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!ok && errno == EPIPE && !wasPending) {
        const timespec now{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}
#endif

SandboxJobType::SandboxJobType(const char* name, Run run) : name_(name), run_(std::move(run)) {
    jobTypes()[name] = this;
}

const SandboxJobType* SandboxJobType::find(const std::string& name) {
    const auto at = jobTypes().find(name);
    return at == jobTypes().end() ? nullptr : at->second;
}

bool SandboxChildSide::receive(SandboxMessage& message) {
    char chunk[65536];
    while (!takeMessage(pending_, message)) {
#ifdef _WIN32
        const int n = _read(in_, chunk, sizeof chunk);
#else
        const ssize_t n = ::read(in_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return false;
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

bool SandboxChildSide::send(const SandboxMessage& message) {
    return sandboxWriteAll(out_, framed(message));
}

void sandboxProgress() {
    static auto last = std::chrono::steady_clock::time_point();
    if (progressTo < 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(100)) return;
    last = now;
    sandboxWriteAll(progressTo, "{\"type\":\"progress\"}\n");
}

namespace {

// The child's side, the same on both systems: reads its job and runs it.
int runChild(int in, int out) {
    SandboxChildSide side(in, out);
    SandboxMessage job;
    if (!side.receive(job) || job.value("type", "") != "job") return 2;
    const SandboxJobType* type = SandboxJobType::find(job.value("kind", ""));
    if (!type) return 2;
    progressTo = out;
    crashReportTo(out);
    crashReportSet(job.value("what", "").c_str());
    DebugTap::instance().take(); // what an earlier job left behind is not this one's
    type->run()(job, side);
    crashReportClear(); // the job returned: an exit from now on is vorn-host's own
    return 0;
}

// How long a child that reported its crash has to end before it is ended.
constexpr int crashGraceSeconds = 3;

// Says how long a child may go on: false once it has run past the whole limit, or sent nothing
// for the hang limit; then the outcome says which.
class Watch {
public:
    explicit Watch(const SandboxLimits& limits)
        : limits_(limits), start_(std::chrono::steady_clock::now()), last_(start_) {}
    void progressed() { last_ = std::chrono::steady_clock::now(); }
    // Milliseconds to wait at most before looking again (at most 200, for a Ctrl-C to pass on).
    int wait() const {
        const auto now = std::chrono::steady_clock::now();
        auto until = now + std::chrono::milliseconds(200);
        if (limits_.seconds > 0)
            until = std::min(until, start_ + std::chrono::seconds(limits_.seconds));
        if (limits_.hangSeconds > 0)
            until = std::min(until, last_ + std::chrono::seconds(limits_.hangSeconds));
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
    }
    bool expired(SandboxOutcome& outcome) const {
        const auto now = std::chrono::steady_clock::now();
        if (limits_.seconds > 0 && now >= start_ + std::chrono::seconds(limits_.seconds)) {
            outcome.limit = SandboxOutcome::Whole;
            outcome.limitMs = limits_.seconds * 1000;
        } else if (limits_.hangSeconds > 0 &&
                   now >= last_ + std::chrono::seconds(limits_.hangSeconds)) {
            outcome.limit = limits_.hangIsAStep ? SandboxOutcome::Step : SandboxOutcome::Progress;
            outcome.limitMs = limits_.hangSeconds * 1000;
        } else {
            return false;
        }
        outcome.kind = SandboxOutcome::TimedOut;
        return true;
    }

private:
    SandboxLimits limits_;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace

std::string SandboxOutcome::describe() const {
    const std::string in = where.empty() ? "" : " in " + where;
    switch (kind) {
    case Finished:
        return "finished";
    case Ended:
        if (exitedInStep)
            return "the plug-in ended the process (exit status " + std::to_string(exitStatus) +
                   ")" + in;
        return "ended before it finished (exit status " + std::to_string(exitStatus) + ")" + in;
    case Crashed: {
        std::string how;
        if (exception) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "exception 0x%08lx", exception);
            how = hex;
        } else {
            how = "signal " + std::to_string(signal);
        }
        if (!rule.empty()) return "the plug-in " + ruleText + " ([" + rule + "], " + how + ")" + in;
        return "the plug-in crashed (" + how + ")" + in;
    }
    case TimedOut: {
        const std::string s = limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s"
                                                  : std::to_string(limitMs) + " ms";
        switch (limit) {
        case Step:
            return "the plug-in did not return within " + s + in;
        case Progress:
            return "no progress for " + s + ": a call into the plug-in did not return" + in;
        case Whole:
            break;
        }
        return "not finished after " + s + in;
    }
    case NotRun:
        break;
    }
    return "cannot run " + (where.empty() ? std::string("the job") : where) + ": " + problem;
}

void SandboxChild::note(const SandboxMessage& m) {
    const std::string type = m["type"];
    if (m.contains("where") && m["where"].is_string() && !m["where"].get<std::string>().empty())
        outcome_.where = m["where"];
    if (m.contains("part") && m["part"].is_number_integer()) {
        outcome_.part = m["part"];
        outcome_.step = m.value("step", -1);
    }
    if (type == "crash") {
        outcome_.signal = m.value("signal", 0);
        outcome_.exception = m.value("exception", 0ul);
        outcome_.rule = m.value("rule", "");
        outcome_.ruleText = m.value("text", "");
    } else if (type == "exit") {
        outcome_.exitedInStep = true;
    } else if (type == "hang") {
        outcome_.kind = SandboxOutcome::TimedOut;
        outcome_.limit = SandboxOutcome::Step;
        outcome_.limitMs = m.value("ms", 0);
    }
}

bool SandboxChild::receive(SandboxMessage& message, const SandboxLimits& limits) {
    if (!running_) return false;
    Watch watch(limits);
    bool passedOn = false, crashed = false;
    for (;;) {
        while (takeMessage(pending_, message)) {
            watch.progressed();
            const std::string type = message["type"];
            if (type == "progress") continue;
            if (type == "crash" || type == "exit" || type == "hang") {
                note(message);
                // A child that reported its crash is ending: it has a moment for it, and a
                // debugger the system starts for it (winedbg) cannot make the crash a hang.
                if (type == "crash" && !crashed) {
                    crashed = true;
                    watch = Watch(SandboxLimits{0, crashGraceSeconds, false});
                }
                continue;
            }
            return true;
        }
        if (watch.expired(outcome_)) {
            if (crashed) {
                outcome_.kind = SandboxOutcome::Crashed;
                outcome_.limit = SandboxOutcome::Whole;
                outcome_.limitMs = 0;
            }
            ended(true);
            return false;
        }
        if (interrupted() && !passedOn) { // Ctrl-C to this process only: the job's to handle
#ifndef _WIN32
            kill(pid_, SIGINT);
#endif
            passedOn = true;
        }
        if (!readMore(watch.wait())) {
            ended(false);
            return false;
        }
    }
}

SandboxChild::~SandboxChild() {
    stop();
}

SandboxOutcome sandboxRun(const SandboxJobType& type, SandboxMessage job, const std::string& what,
                          const SandboxLimits& limits, SandboxOutput output) {
    SandboxChild child;
    if (!child.start(type, std::move(job), what, output)) return child.outcome();
    SandboxMessage message;
    while (child.receive(message, limits)) {
        if (message["type"] != "result") continue;
        SandboxOutcome outcome = child.outcome();
        outcome.kind = SandboxOutcome::Finished;
        outcome.result = message.value("value", SandboxMessage());
        child.stop();
        return outcome;
    }
    return child.outcome();
}

bool SandboxChild::send(const SandboxMessage& message) {
    if (!running_) return false;
#ifdef _WIN32
    const std::string text = framed(message);
    DWORD written = 0;
    if (WriteFile(toChild_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size())
        return true;
#else
    if (sandboxWriteAll(toChild_, framed(message))) return true;
#endif
    ended(false);
    return false;
}

#ifdef _WIN32
namespace {
const char* const childFlag = "--vorn-sandbox-child";
}

bool sandboxIsChild(int argc, char** argv) {
    return argc == 4 && std::string(argv[1]) == childFlag;
}

int sandboxChildMain(int, char** argv) {
    // The handles this process inherited, as its parent named them.
    const auto handle = [](const char* text) {
        return reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 10)));
    };
    const int in =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle(argv[2])), _O_RDONLY | _O_BINARY);
    const int out =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle(argv[3])), _O_WRONLY | _O_BINARY);
    if (in < 0 || out < 0) return 2;
    const int status = runChild(in, out);
    std::cout.flush();
    std::cerr.flush();
    return status;
}

bool SandboxChild::start(const SandboxJobType& type, SandboxMessage job, const std::string& what,
                         SandboxOutput output) {
    stop();
    outcome_ = SandboxOutcome();
    outcome_.where = what;
    char exe[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, exe, MAX_PATH)) {
        outcome_.problem = "cannot find vorn-host.exe itself";
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) {
        outcome_.problem = "cannot make a pipe";
        return false;
    }
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        outcome_.problem = "cannot make a pipe";
        return false;
    }
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = INVALID_HANDLE_VALUE;
    if (output == SandboxOutput::Discard)
        nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
    std::string command = std::string("\"") + exe + "\" " + childFlag + " " +
                          std::to_string(reinterpret_cast<std::uintptr_t>(inRead)) + " " +
                          std::to_string(reinterpret_cast<std::uintptr_t>(outWrite));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = nul != INVALID_HANDLE_VALUE ? nul : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = nul != INVALID_HANDLE_VALUE ? nul : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::cout.flush();
    std::cerr.flush();
    const BOOL made = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!made) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        outcome_.problem = "cannot start a child process";
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    toChild_ = inWrite;
    fromChild_ = outRead;
    running_ = true;
    pending_.clear();
    job["type"] = "job";
    job["kind"] = type.name();
    job["what"] = what;
    return send(job);
}

bool SandboxChild::readMore(int waitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(fromChild_, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0) {
            char chunk[65536];
            DWORD n = 0;
            if (!ReadFile(fromChild_, chunk, std::min<DWORD>(available, sizeof chunk), &n,
                          nullptr) ||
                n == 0)
                return false;
            pending_.append(chunk, n);
            return true;
        }
        // Ended with nothing left to read: done, even while a process it started (a debugger
        // for its crash) still holds the pipe's other end.
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            PeekNamedPipe(fromChild_, nullptr, 0, nullptr, &available, nullptr);
            if (available == 0) return false;
            continue;
        }
        if (std::chrono::steady_clock::now() >= until) return true;
        Sleep(5);
    }
}

void SandboxChild::ended(bool killed) {
    if (killed) TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    if (!killed && outcome_.kind != SandboxOutcome::TimedOut) {
        // An exception ends a process with its code, which is never a small number.
        if (code > 255) {
            outcome_.kind = SandboxOutcome::Crashed;
            outcome_.exception = code;
        } else {
            outcome_.kind = SandboxOutcome::Ended;
            outcome_.exitStatus = static_cast<int>(code);
        }
    }
    stop();
}

void SandboxChild::stop() {
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
bool sandboxIsChild(int, char**) {
    return false; // a fork runs its job from where it was made
}

int sandboxChildMain(int, char**) {
    return 2;
}

bool SandboxChild::start(const SandboxJobType& type, SandboxMessage job, const std::string& what,
                         SandboxOutput output) {
    stop();
    outcome_ = SandboxOutcome();
    outcome_.where = what;
    int down[2], up[2];
    if (pipe(down) != 0) {
        outcome_.problem = "cannot make a pipe";
        return false;
    }
    if (pipe(up) != 0) {
        close(down[0]);
        close(down[1]);
        outcome_.problem = "cannot make a pipe";
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {down[0], down[1], up[0], up[1]})
            close(fd);
        outcome_.problem = "cannot fork";
        return false;
    }
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        if (output == SandboxOutput::Discard) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, 1);
                dup2(null, 2);
                close(null);
            }
        }
        const int status = runChild(down[0], up[1]);
        std::cout.flush();
        std::cerr.flush();
        _exit(status);
    }
    close(down[0]);
    close(up[1]);
    pid_ = pid;
    toChild_ = down[1];
    fromChild_ = up[0];
    running_ = true;
    pending_.clear();
    job["type"] = "job";
    job["kind"] = type.name();
    job["what"] = what;
    return send(job);
}

bool SandboxChild::readMore(int waitMs) {
    pollfd ready{fromChild_, POLLIN, 0};
    const int n = poll(&ready, 1, waitMs);
    if (n < 0) return true; // interrupted: the limits are looked at again
    if (n == 0) {
        // Ended with nothing left to read: done, even while a process it started still holds
        // the pipe's other end. (WNOWAIT: ended() reaps it and reads its status.)
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == 0)
            return true;
        if (poll(&ready, 1, 0) <= 0) return false; // what it wrote before it ended is read first
    }
    char chunk[65536];
    const ssize_t got = ::read(fromChild_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) return true;
    if (got <= 0) return false;
    pending_.append(chunk, static_cast<std::size_t>(got));
    return true;
}

void SandboxChild::ended(bool killed) {
    if (killed) kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (!killed && outcome_.kind != SandboxOutcome::TimedOut) {
        if (WIFSIGNALED(status)) {
            outcome_.kind = SandboxOutcome::Crashed;
            outcome_.signal = WTERMSIG(status);
        } else {
            outcome_.kind = SandboxOutcome::Ended;
            outcome_.exitStatus = WEXITSTATUS(status);
        }
    }
    stop();
}

void SandboxChild::stop() {
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
