#include "crash_report.h"

#include "lent_memory.h"
#include "sandbox.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {

char current[512] = "";
char currentJson[1200] = "\"\"";        // the same as a JSON string, for the channel's messages
int currentPart = -1, currentStep = -1; // where in a job of parts and steps, when named
bool installed = false;
int reportTo = -1; // the channel, in a sandbox's child: messages instead of lines

// A line put together by hand, for signal handlers and timer threads: no allocation, no stdio.
struct Line {
    char text[1800];
    std::size_t n = 0;
    void put(const char* piece) {
        for (; *piece && n < sizeof text - 2; ++piece)
            text[n++] = *piece;
    }
    void put(unsigned long number) {
        char digits[24];
        std::size_t count = 0;
        do
            digits[count++] = static_cast<char>('0' + number % 10);
        while ((number /= 10) > 0 && count < sizeof digits);
        while (count > 0 && n < sizeof text - 2)
            text[n++] = digits[--count];
    }
    void put(int number) { put(static_cast<unsigned long>(number < 0 ? 0 : number)); }
    // Ends a line for a person with the running step; its size.
    std::size_t end(const char* where) {
        put(where);
        text[n++] = '\n';
        return n;
    }
    // Ends a message of the channel: its "where" field (and "part" and "step" when they are
    // known) and the object.
    std::size_t endMessage() {
        if (currentPart >= 0) {
            put(",\"part\":");
            put(currentPart);
            put(",\"step\":");
            put(currentStep);
        }
        put(",\"where\":");
        put(currentJson);
        put("}");
        text[n++] = '\n';
        return n;
    }
};

// What a read after its loan read.
const char* loanText(LentKind kind) {
    switch (kind) {
    case LentKind::Reply:
        return "read a reply after handing it back";
    case LentKind::Record:
        return "read a record after the call it was lent for";
    default:
        return "read a text after the call it was lent for";
    }
}

#ifdef _WIN32
void writeReport(const char* text, std::size_t n) {
    DWORD written = 0;
    if (reportTo >= 0)
        WriteFile(reinterpret_cast<HANDLE>(_get_osfhandle(reportTo)), text, static_cast<DWORD>(n),
                  &written, nullptr);
    else
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(n), &written, nullptr);
}
#else
void writeReport(const char* text, std::size_t n) {
    (void)!::write(reportTo >= 0 ? reportTo : 2, text, n);
}
#endif

// A crash: "how" is the signal or the exception code.
void crashed(bool exception, unsigned long how, const LentKind* lent) {
    Line line;
    if (reportTo >= 0) {
        line.put(exception ? "{\"type\":\"crash\",\"exception\":"
                           : "{\"type\":\"crash\",\"signal\":");
        line.put(how);
        if (lent) {
            line.put(",\"rule\":\"read-after-loan\",\"text\":\"");
            line.put(loanText(*lent));
            line.put("\"");
        }
        const std::size_t n = line.endMessage();
        writeReport(line.text, n);
        return;
    }
    line.put("vorn-host: the plug-in ");
    if (lent) {
        line.put(loanText(*lent));
        line.put(" ([read-after-loan], ");
    } else {
        line.put("crashed (");
    }
    line.put(exception ? "exception " : "signal ");
    line.put(how);
    line.put(") in ");
    const std::size_t n = line.end(current);
    writeReport(line.text, n);
}

#ifdef _WIN32
LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& e = *info->ExceptionRecord;
    LentKind kind;
    const bool afterLoan =
        e.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && e.NumberParameters >= 2 &&
        wasTakenBack(reinterpret_cast<const void*>(e.ExceptionInformation[1]), kind);
    crashed(true, static_cast<unsigned long>(e.ExceptionCode), afterLoan ? &kind : nullptr);
    // Reported: the process ends with the exception's code at once, rather than wait for a
    // debugger or an error dialog that the system would start for it.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(e.ExceptionCode));
    return EXCEPTION_CONTINUE_SEARCH;
}

void install() {
    SetUnhandledExceptionFilter(reportCrash);
}
#else
// Only async-signal-safe calls: the text is put together by hand.
void reportCrash(int signal, siginfo_t* info, void*) {
    LentKind kind;
    const bool afterLoan =
        (signal == SIGSEGV || signal == SIGBUS) && info && wasTakenBack(info->si_addr, kind);
    crashed(false, static_cast<unsigned long>(signal), afterLoan ? &kind : nullptr);
    ::raise(signal); // the handler was reset: the process ends by the signal itself
}

void install() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = reportCrash;
    action.sa_flags = SA_RESETHAND | SA_NODEFER | SA_SIGINFO;
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        sigaction(signal, &action, nullptr);
}
#endif

// At exit: when something of the plug-in's was running, it was the plug-in that ended the
// process, in the middle of a step; the run did not finish and must not look as if it had.
void reportExit() {
    if (!current[0]) return;
    if (reportTo >= 0) { // the parent words it, with the exit status it sees
        Line line;
        line.put("{\"type\":\"exit\"");
        const std::size_t n = line.endMessage();
        writeReport(line.text, n);
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "vorn-host: the plug-in ended the process (exit) in %s\n", current);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void crashReportSet(const char* what, int part, int step) {
    currentPart = part;
    currentStep = part >= 0 ? step : -1;
    if (!installed) {
        install();
        std::atexit(reportExit);
        installed = true;
    }
    std::snprintf(current, sizeof current, "%s", what);
    std::string json = jsonText(std::string(current));
    if (json.size() >= sizeof currentJson) json = "\"(too long to tell)\"";
    std::snprintf(currentJson, sizeof currentJson, "%s", json.c_str());
}

void crashReportTo(int fd) {
    reportTo = fd;
}

void crashReportClear() {
    current[0] = '\0';
    currentPart = currentStep = -1;
    std::snprintf(currentJson, sizeof currentJson, "\"\"");
    crashReportLimit(std::chrono::milliseconds(0));
}

namespace {
int limitMs = 0;
volatile std::sig_atomic_t interruptedFlag = 0;

// A hang: written from a signal handler or a timer thread while the plug-in runs.
std::size_t hangText(Line& line) {
    if (reportTo >= 0) {
        line.put("{\"type\":\"hang\",\"ms\":");
        line.put(limitMs);
        return line.endMessage();
    }
    line.put("vorn-host: the plug-in did not return within ");
    if (limitMs % 1000 == 0) {
        line.put(limitMs / 1000);
        line.put(" s in ");
    } else {
        line.put(limitMs);
        line.put(" ms in ");
    }
    return line.end(current);
}
} // namespace

#ifdef _WIN32
namespace {
HANDLE limitTimer = nullptr;
VOID CALLBACK hangTimer(PVOID, BOOLEAN) {
    Line line;
    writeReport(line.text, hangText(line));
    TerminateProcess(GetCurrentProcess(), 1);
}
BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    interruptedFlag = 1;
    return TRUE;
}
} // namespace

void crashReportLimit(std::chrono::milliseconds limit) {
    if (limitTimer) {
        DeleteTimerQueueTimer(nullptr, limitTimer, INVALID_HANDLE_VALUE);
        limitTimer = nullptr;
    }
    limitMs = static_cast<int>(limit.count());
    if (limitMs > 0)
        CreateTimerQueueTimer(&limitTimer, nullptr, hangTimer, nullptr, static_cast<DWORD>(limitMs),
                              0, WT_EXECUTEONLYONCE);
}

void interruptWatch() {
    SetConsoleCtrlHandler(onControl, TRUE);
}
#else
namespace {
void hangAlarm(int) {
    Line line;
    writeReport(line.text, hangText(line));
    _exit(1);
}
void onInterrupt(int) {
    interruptedFlag = 1;
}
} // namespace

void crashReportLimit(std::chrono::milliseconds limit) {
    static bool installed = false;
    if (!installed) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = hangAlarm;
        sigaction(SIGALRM, &action, nullptr);
        installed = true;
    }
    limitMs = static_cast<int>(limit.count());
    itimerval timer{};
    timer.it_value.tv_sec = limitMs / 1000;
    timer.it_value.tv_usec = (limitMs % 1000) * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

void interruptWatch() {
    // No SA_RESTART: a read waiting for input returns, and the input ends there.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
}
#endif

bool interrupted() {
    return interruptedFlag != 0;
}
