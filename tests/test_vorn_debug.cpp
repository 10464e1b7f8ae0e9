#include "vorn_debug.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Points the debug output at a descriptor for one test.
class DebugTo : public ::testing::Test {
protected:
    void to(int fd) { setenv("VORN_DEBUG_FD", std::to_string(fd).c_str(), 1); }
    void TearDown() override { unsetenv("VORN_DEBUG_FD"); }
};

} // namespace

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
