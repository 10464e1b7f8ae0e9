#include "vorn_debug.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

// This program's writes go through here (it is linked with --wrap=write): a test acts as a
// reader that goes away between the output's check for room and its write.
namespace {
void (*beforeWrite)() = nullptr;
int readerToClose = -1;
int interruptions = 0; // writes that a signal interrupts before they write anything
} // namespace
extern "C" ssize_t __real_write(int fd, const void* buffer, size_t size);
extern "C" ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
    if (beforeWrite) {
        beforeWrite();
        beforeWrite = nullptr;
    }
    if (interruptions > 0) {
        --interruptions;
        errno = EINTR;
        return -1;
    }
    return __real_write(fd, buffer, size);
}

namespace {

// Points the debug output at a descriptor for one test.
class DebugTo : public ::testing::Test {
protected:
    void to(int fd) { setenv("VORN_DEBUG_FD", std::to_string(fd).c_str(), 1); }
    void TearDown() override { unsetenv("VORN_DEBUG_FD"); }
};

// What can be read from a descriptor now, without waiting.
std::string readNow(int fd) {
    std::string text;
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    fcntl(fd, F_SETFL, flags);
    return text;
}

} // namespace

// Where a host points the output: a pipe, a file and a terminal each get every text whole and
// in order, one longer than a pipe takes in one write too.
TEST_F(DebugTo, TextsArriveWholeThroughAPipeAFileAndATerminal) {
    const std::string longText = std::string(3 * PIPE_BUF, 'x') + "\n";
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    to(pipeEnds[1]);
    vorn_debug_output("first\n");
    vorn_debug_output(longText.c_str());
    vorn_debug_output("");
    vorn_debug_output(nullptr);
    EXPECT_EQ(readNow(pipeEnds[0]), "first\n" + longText);
    // A write a signal interrupts is made again.
    interruptions = 2;
    vorn_debug_output("interrupted\n");
    EXPECT_EQ(interruptions, 0);
    EXPECT_EQ(readNow(pipeEnds[0]), "interrupted\n");
    // A descriptor whose number has the first and the last digit in it.
    ASSERT_EQ(dup2(pipeEnds[1], 90), 90);
    to(90);
    vorn_debug_output("ninety\n");
    EXPECT_EQ(readNow(pipeEnds[0]), "ninety\n");
    close(90);
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    to(fileno(file));
    vorn_debug_output("to a file\n");
    vorn_debug_output("and more");
    lseek(fileno(file), 0, SEEK_SET);
    EXPECT_EQ(readNow(fileno(file)), "to a file\nand more");
    std::fclose(file);

    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(side, 0);
    termios raw;
    tcgetattr(side, &raw);
    cfmakeraw(&raw);
    tcsetattr(side, TCSANOW, &raw);
    to(side);
    vorn_debug_output("on a terminal\n");
    usleep(20000); // the terminal passes it on to its other side
    EXPECT_EQ(readNow(terminal), "on a terminal\n");
    close(side);
    close(terminal);
}

// VORN_DEBUG_FD that is not a descriptor's number: the texts go to standard error.
TEST_F(DebugTo, ANameThatIsNoNumberMeansStandardError) {
    int pipeEnds[2], errorEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(pipe(errorEnds), 0);
    const int standardError = dup(2);
    dup2(errorEnds[1], 2);
    const std::string fd = std::to_string(pipeEnds[1]);
    for (const std::string& value : {fd + "x", "x" + fd, std::string("65536"),
                                     std::string("4294967299"), std::string(""), " " + fd})
        if (setenv("VORN_DEBUG_FD", value.c_str(), 1) == 0)
            vorn_debug_output(("for '" + value + "'\n").c_str());
    unsetenv("VORN_DEBUG_FD");
    vorn_debug_output("unset\n");
    dup2(standardError, 2);
    close(standardError);
    EXPECT_EQ(readNow(pipeEnds[0]), "");
    EXPECT_EQ(readNow(errorEnds[0]), "for '" + fd + "x'\nfor 'x" + fd +
                                         "'\nfor '65536'\nfor '4294967299'\nfor ''\nfor ' " + fd +
                                         "'\nunset\n");
    for (int end : {pipeEnds[0], pipeEnds[1], errorEnds[0], errorEnds[1]})
        close(end);
}

// The SIGPIPE a write to a pipe whose reader has just gone raises is taken back, but one the
// host had pending before is the host's, and stays pending; the host's mask is as it was.
TEST_F(DebugTo, ASigpipeThatWasPendingStaysPending) {
    sigset_t pipeSignal, before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    auto pending = [] {
        sigset_t now;
        sigpending(&now);
        return sigismember(&now, SIGPIPE) == 1;
    };
    auto blocked = [] {
        sigset_t now;
        pthread_sigmask(SIG_SETMASK, nullptr, &now);
        return sigismember(&now, SIGPIPE) == 1;
    };
    ASSERT_FALSE(blocked());
    for (const bool hostsOwn : {false, true}) {
        SCOPED_TRACE(hostsOwn ? "pending before" : "none pending");
        // Blocked here, so that a SIGPIPE left behind shows as pending instead of ending the test.
        ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipeSignal, &before), 0);
        if (hostsOwn) raise(SIGPIPE);
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        to(pipeEnds[1]);
        readerToClose = pipeEnds[0];
        beforeWrite = [] { close(readerToClose); };
        vorn_debug_output("the reader goes away now\n");
        EXPECT_EQ(beforeWrite, nullptr); // the output did get as far as its write
        EXPECT_EQ(pending(), hostsOwn);
        EXPECT_TRUE(blocked());
        const timespec now{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &now);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        close(pipeEnds[1]);
    }
    // Unblocked, as the host has it: the output leaves it so.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    to(pipeEnds[1]);
    vorn_debug_output("read\n");
    EXPECT_FALSE(blocked());
    EXPECT_EQ(readNow(pipeEnds[0]), "read\n");
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(DebugTo, APipeWithoutReaderNeitherKillsNorFails) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    to(pipeEnds[1]);
    vorn_debug_output("nobody reads this\n"); // SIGPIPE would end the test program here
    close(pipeEnds[1]);
}

TEST_F(DebugTo, AFullPipeDoesNotBlock) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int flags = fcntl(pipeEnds[1], F_GETFL);
    fcntl(pipeEnds[1], F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (write(pipeEnds[1], block.data(), block.size()) > 0) {
    }
    fcntl(pipeEnds[1], F_SETFL, flags); // a plain write would wait for the reader from here on
    to(pipeEnds[1]);
    vorn_debug_output("no room\n"); // returns at once: the text is dropped
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(DebugTo, ADatagramSocketGetsEachTextAsOneMessage) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    to(pair[1]);
    vorn_debug_output("instance=a\nb\n");
    vorn_debug_output("second\n");
    char text[64];
    ssize_t n = recv(pair[0], text, sizeof text, MSG_DONTWAIT);
    EXPECT_EQ(std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0), "instance=a\nb\n");
    n = recv(pair[0], text, sizeof text, MSG_DONTWAIT);
    EXPECT_EQ(std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0), "second\n");
    close(pair[0]);
    close(pair[1]);
}
