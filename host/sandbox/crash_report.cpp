#include "crash_report.h"

#include "lent_memory.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {

char current[512] = "";
bool installed = false;
int reportTo = -1; // where the report goes instead of standard error

// A line put together by hand, for signal handlers and timer threads: no allocation, no stdio.
struct Line {
    char text[700];
    std::size_t n = 0;
    void put(const char* piece) {
        for (; *piece && n < sizeof text - 2; ++piece)
            text[n++] = *piece;
    }
    void put(int number) {
        char digits[12];
        std::size_t count = 0;
        for (; number > 0 && count < sizeof digits; number /= 10)
            digits[count++] = static_cast<char>('0' + number % 10);
        while (count > 0 && n < sizeof text - 2)
            text[n++] = digits[--count];
    }
    // Ends the line with the running step and a line feed; its size.
    std::size_t end(const char* where) {
        put(where);
        text[n++] = '\n';
        return n;
    }
};

// What a read after its loan read.
const char* loanText(LentKind kind) {
    switch (kind) {
    case LentKind::Reply:
        return "a reply after handing it back";
    case LentKind::Record:
        return "a record after the call it was lent for";
    default:
        return "a text after the call it was lent for";
    }
}

#ifdef _WIN32
LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    char line[700];
    const EXCEPTION_RECORD& e = *info->ExceptionRecord;
    LentKind kind;
    const bool afterLoan =
        e.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && e.NumberParameters >= 2 &&
        wasTakenBack(reinterpret_cast<const void*>(e.ExceptionInformation[1]), kind);
    const int n =
        afterLoan ? std::snprintf(line, sizeof line, "vorn-host: the plug-in read %s (%s) in %s\n",
                                  loanText(kind), "[read-after-loan]", current)
                  : std::snprintf(line, sizeof line,
                                  "vorn-host: the plug-in crashed (exception 0x%08lx) in %s\n",
                                  static_cast<unsigned long>(e.ExceptionCode), current);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
    return EXCEPTION_CONTINUE_SEARCH;
}

void install() {
    SetUnhandledExceptionFilter(reportCrash);
}
#else
// Only async-signal-safe calls: the text is put together by hand.
void reportCrash(int signal, siginfo_t* info, void*) {
    Line line;
    LentKind kind;
    if ((signal == SIGSEGV || signal == SIGBUS) && info && wasTakenBack(info->si_addr, kind)) {
        line.put("vorn-host: the plug-in read ");
        line.put(loanText(kind));
        line.put(" ([read-after-loan]) in ");
    } else {
        line.put("vorn-host: the plug-in crashed (signal ");
        line.put(signal);
        line.put(") in ");
    }
    const std::size_t n = line.end(current);
    (void)!::write(reportTo >= 0 ? reportTo : 2, line.text, n);
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
    // In a check's child the report to the parent judges an early exit (it has no verdict).
    if (!current[0] || reportTo >= 0) return;
    std::fflush(stdout);
    std::fprintf(stderr, "vorn-host: the plug-in ended the process (exit) in %s\n", current);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void crashReportSet(const char* what) {
    if (!installed) {
        install();
        std::atexit(reportExit);
        installed = true;
    }
    std::snprintf(current, sizeof current, "%s", what);
}

void crashReportTo(int fd) {
    reportTo = fd;
}

void crashReportClear() {
    current[0] = '\0';
    crashReportLimit(0);
}

namespace {
int limitSeconds = 0;
volatile std::sig_atomic_t interruptedFlag = 0;

// The text of a hang: it is written from a signal handler or a timer thread while the plug-in
// runs.
std::size_t hangText(Line& line) {
    line.put("vorn-host: the plug-in did not return within ");
    line.put(limitSeconds);
    line.put(" s in ");
    return line.end(current);
}
} // namespace

#ifdef _WIN32
namespace {
HANDLE limitTimer = nullptr;
VOID CALLBACK hangTimer(PVOID, BOOLEAN) {
    Line line;
    const std::size_t n = hangText(line);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.text, static_cast<DWORD>(n), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 1);
}
BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    interruptedFlag = 1;
    return TRUE;
}
} // namespace

void crashReportLimit(int seconds) {
    if (limitTimer) {
        DeleteTimerQueueTimer(nullptr, limitTimer, INVALID_HANDLE_VALUE);
        limitTimer = nullptr;
    }
    limitSeconds = seconds;
    if (seconds > 0)
        CreateTimerQueueTimer(&limitTimer, nullptr, hangTimer, nullptr,
                              static_cast<DWORD>(seconds) * 1000, 0, WT_EXECUTEONLYONCE);
}

void interruptWatch() {
    SetConsoleCtrlHandler(onControl, TRUE);
}
#else
namespace {
void hangAlarm(int) {
    Line line;
    const std::size_t n = hangText(line);
    (void)!::write(2, line.text, n);
    _exit(1);
}
void onInterrupt(int) {
    interruptedFlag = 1;
}
} // namespace

void crashReportLimit(int seconds) {
    static bool installed = false;
    if (!installed) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = hangAlarm;
        sigaction(SIGALRM, &action, nullptr);
        installed = true;
    }
    limitSeconds = seconds;
    itimerval timer{};
    timer.it_value.tv_sec = seconds;
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
