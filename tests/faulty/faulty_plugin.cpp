// Plug-ins for the emulator's own tests, built on the host-facing contract alone:
//   VORN_FAULT_NONE     a correct minimal plug-in: answers "name=value" queries with "ok",
//                       sends "AS" when deleted
//   VORN_FAULT_CRASH    the same, but a component crashes (an access fault) at its 40th
//                       message, or at the parent command "crash"
//   VORN_FAULT_HANG     the same, but the parent command "hang" (or any parent command after
//                       the 40th message) never returns
//   VORN_FAULT_NO_AS    the same, but it never sends "AS"
//   VORN_FAULT_RESULT   the same, but dispatch returns a pointer for a timer tick
//   VORN_FAULT_SPACES   the same, but it sends "GU  1" (two spaces) at its first parent command
//   VORN_FAULT_THREAD   the same, but its first message starts a thread of its own that sends
//                       "HN 'late'" after dispatch returned (joined when it is deleted)
//   VORN_FAULT_WRITE    the same, but it writes into the button record's panel text
//   VORN_FAULT_TIMERS   the same, but it starts timer 1 (10 s) when made, and timer 2 (1 ms) on
//                       every tick of timer 1
//   VORN_FAULT_EXIT     the same, but it ends its process with exit(0) at its 40th message, or
//                       at the parent command "exit"
//   VORN_FAULT_LATE     the same, but at every parent command it looks up "SD 'A'", hands the
//                       reply back, and reads it again at its next message
//   VORN_FAULT_LOAD     the same, but loading the library crashes (an access fault in a static
//                       initializer, which runs inside the loader)
//   VORN_FAULT_REPEAT   the same, but the same parent command of 20 bytes or more twice in a
//                       row, nothing between them, sends "GU  1"
//   VORN_FAULT_RING     the same, but its answers come from a ring of 16 buffers of its own (a
//                       17th answer while the first is still held gives that buffer again)
//   VORN_FAULT_BIG      the same, but a parent command of more than 40,000 bytes crashes it
//   VORN_FAULT_TICK     the same, but a tick of timer 4242 (which it never starts) sends
//                       "GU  4242"
//   VORN_FAULT_STORM    the same, but its 70,000th device report sends "HN 'storm" (unclosed)
//   VORN_FAULT_EARLY    the same, but deleted after 1 to 5 messages it sends no "AS"
//   VORN_FAULT_SHARED   the same, but its answers say how many of its components are alive
//                       ("ok 3"): beside others it answers otherwise than alone
//   VORN_FAULT_PARITY   the same, but its answers say whether the process has made an odd or
//                       an even number of its components ("ok odd")
//   VORN_FAULT_CONFIG   the same, but it keeps the size its configuration file (VORN_CONFIG)
//                       had when its first component was made: a component made when the
//                       file has another size sends "GU  1"
//   VORN_FAULT_AGAIN    the same, but a component whose first query is the one its process's
//                       last deleted component had first answers "ok again": a life run twice
//                       in a row answers otherwise the second time
//   VORN_FAULT_WORDS    a vocabulary of its own: "_commands" answers "dimmer=[value]" and
//                       "return=all" "dimmer=50"; but "dimmer=0" sends the malformed "HN 'dark"
//                       (a fault that only a host speaking its words reaches)
#include "vorn_host_contract.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#if defined(VORN_FAULT_THREAD)
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif
#endif

namespace {

class Faulty final : public vorn_client_callback {
    VORN_HOST_DESTRUCTOR_BRIDGE(Faulty)

public:
    explicit Faulty(HostClient* host) : host_(host) {
#if defined(VORN_FAULT_TIMERS)
        if (host_) host_->send("ET 1 10000", VORN_SEND_COMMAND);
#elif defined(VORN_FAULT_CONFIG)
        static const long first = configurationSize();
        if (host_ && configurationSize() != first) host_->send("GU  1", VORN_SEND_COMMAND);
#endif
    }
    virtual ~Faulty() {
#if defined(VORN_FAULT_THREAD)
        if (started_) join();
#endif
#if defined(VORN_FAULT_EARLY)
        if (messages_ >= 1 && messages_ <= 5) return;
#endif
#if defined(VORN_FAULT_AGAIN)
        lastDeletedFirst() = first_;
#endif
#if !defined(VORN_FAULT_NO_AS)
        if (host_) host_->send("AS", VORN_SEND_COMMAND);
#endif
    }
    char* VORN_THISCALL dispatch(void* data, int type) override {
        ++messages_;
        const char* text = type == VORN_MSG_PARENT ? static_cast<const char*>(data) : nullptr;
#if defined(VORN_FAULT_CRASH)
        if (messages_ == 40 || (text && std::strcmp(text, "crash") == 0)) {
            volatile int* volatile nowhere = nullptr;
            *nowhere = 1; // a real access fault, on Linux and on Windows
        }
#elif defined(VORN_FAULT_HANG)
        if (text && (messages_ > 40 || std::strcmp(text, "hang") == 0))
            for (volatile int forever = 1; forever;) {
            }
#elif defined(VORN_FAULT_RESULT)
        static char leaked[] = "tick";
        if (type == VORN_MSG_TIMER) return leaked;
#elif defined(VORN_FAULT_SPACES)
        if (text && !sent_) {
            sent_ = true;
            host_->send("GU  1", VORN_SEND_COMMAND);
        }
#elif defined(VORN_FAULT_THREAD)
        if (!started_) started_ = start();
#elif defined(VORN_FAULT_EXIT)
        if (messages_ == 40 || (text && std::strcmp(text, "exit") == 0)) std::exit(0);
#elif defined(VORN_FAULT_LATE)
        if (handedBack_) seen_ += *static_cast<volatile const char*>(handedBack_);
        handedBack_ = nullptr;
        if (text && host_) {
            if (const char* reply = host_->send("SD 'A'", VORN_SEND_COMMAND)) {
                host_->send(reply, VORN_SEND_RELEASE);
                handedBack_ = reply; // kept past its hand-back
            }
        }
#elif defined(VORN_FAULT_TIMERS)
        if (type == VORN_MSG_TIMER && reinterpret_cast<std::intptr_t>(data) == 1 && host_)
            host_->send("ET 2 1", VORN_SEND_COMMAND);
#elif defined(VORN_FAULT_WRITE)
        if (type == VORN_MSG_BUTTON) {
            const HostButtonRecord* record = static_cast<const HostButtonRecord*>(data);
            if (record->panel && *record->panel) const_cast<char*>(record->panel)[0] = 'X';
        }
#elif defined(VORN_FAULT_REPEAT)
        const bool longText = text && std::strlen(text) >= 20;
        if (longText && host_ && last_ == text) host_->send("GU  1", VORN_SEND_COMMAND);
        last_ = longText ? text : "";
#elif defined(VORN_FAULT_RING)
        static char ring[16][3];
        if (type == VORN_MSG_RELEASE) return nullptr; // its own: nothing to free
        if (text && std::strchr(text, '=')) {
            char* answer = ring[answers_++ % 16];
            std::memcpy(answer, "ok", 3);
            return answer;
        }
#elif defined(VORN_FAULT_BIG)
        if (text && std::strlen(text) > 40000) {
            volatile int* volatile nowhere = nullptr;
            *nowhere = 1;
        }
#elif defined(VORN_FAULT_TICK)
        if (type == VORN_MSG_TIMER && reinterpret_cast<std::intptr_t>(data) == 4242 && host_)
            host_->send("GU  4242", VORN_SEND_COMMAND);
#elif defined(VORN_FAULT_STORM)
        if (type == VORN_MSG_DEVICE_REPORT && ++reports_ == 70000 && host_)
            host_->send("HN 'storm", VORN_SEND_COMMAND);
#elif defined(VORN_FAULT_WORDS)
        if (text && host_ && std::strcmp(text, "dimmer=0") == 0)
            host_->send("HN 'dark", VORN_SEND_COMMAND);
        const char* words = !text                                  ? nullptr
                            : std::strcmp(text, "_commands") == 0  ? "dimmer=[value]"
                            : std::strcmp(text, "return=all") == 0 ? "dimmer=50"
                                                                   : nullptr;
        if (words) {
            char* answer = new (std::nothrow) char[std::strlen(words) + 1];
            if (answer) std::memcpy(answer, words, std::strlen(words) + 1);
            return answer;
        }
#endif
        if (type == VORN_MSG_RELEASE) {
            delete[] static_cast<char*>(data);
            return nullptr;
        }
        if (!text || !std::strchr(text, '=')) return nullptr;
#if defined(VORN_FAULT_SHARED)
        char* answer = new (std::nothrow) char[16];
        if (answer) std::snprintf(answer, 16, "ok %d", alive());
#elif defined(VORN_FAULT_AGAIN)
        if (first_.empty()) first_ = text;
        const bool again = first_ == lastDeletedFirst();
        char* answer = new (std::nothrow) char[9];
        if (answer) std::memcpy(answer, again ? "ok again" : "ok", again ? 9 : 3);
#elif defined(VORN_FAULT_PARITY)
        char* answer = new (std::nothrow) char[8];
        if (answer) std::memcpy(answer, made() % 2 ? "ok odd" : "ok even", made() % 2 ? 7 : 8);
#else
        char* answer = new (std::nothrow) char[3];
        if (answer) std::memcpy(answer, "ok", 3);
#endif
        return answer;
    }

private:
#if defined(VORN_FAULT_AGAIN)
    static std::string& lastDeletedFirst() {
        static std::string text;
        return text;
    }
    std::string first_;
#endif
#if defined(VORN_FAULT_CONFIG)
    static long configurationSize() {
        const char* path = std::getenv("VORN_CONFIG");
        std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
        if (!file) return -1;
        std::fseek(file, 0, SEEK_END);
        const long size = std::ftell(file);
        std::fclose(file);
        return size;
    }
#endif
#if defined(VORN_FAULT_PARITY) || defined(VORN_FAULT_SHARED)
    // How many of its components the process has made, and how many are alive.
    static int& made() {
        static int count = 0;
        return count;
    }
    static int& alive() {
        static int count = 0;
        return count;
    }
    struct Counted {
        Counted() { ++made(), ++alive(); }
        ~Counted() { --alive(); }
    } counted_;
#endif
#if defined(VORN_FAULT_THREAD)
    // The thread waits a little, so that dispatch has returned, then sends.
#ifdef _WIN32
    static DWORD WINAPI late(void* self) {
        Sleep(20);
        static_cast<Faulty*>(self)->host_->send("HN 'late'", VORN_SEND_COMMAND);
        return 0;
    }
    bool start() {
        return (thread_ = CreateThread(nullptr, 0, late, this, 0, nullptr)) != nullptr;
    }
    void join() {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    HANDLE thread_ = nullptr;
#else
    static void* late(void* self) {
        usleep(20000);
        static_cast<Faulty*>(self)->host_->send("HN 'late'", VORN_SEND_COMMAND);
        return nullptr;
    }
    bool start() {
        return pthread_create(&thread_, nullptr, late, this) == 0;
    }
    void join() {
        pthread_join(thread_, nullptr);
    }
    pthread_t thread_{};
#endif
    bool started_ = false;
#endif
    bool sent_ = false;
#if defined(VORN_FAULT_REPEAT)
    std::string last_;
#endif
#if defined(VORN_FAULT_RING)
    unsigned answers_ = 0;
#endif
#if defined(VORN_FAULT_STORM)
    unsigned reports_ = 0;
#endif
    const char* handedBack_ = nullptr;
    int seen_ = 0;
    HostClient* host_;
    int messages_ = 0;
};

} // namespace

#if defined(VORN_FAULT_LOAD)
namespace {
struct CrashesWhenLoaded {
    CrashesWhenLoaded() {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
} crashesWhenLoaded;
} // namespace
#endif

VORN_EXPORT vorn_client_callback* load_vorn_client_script(HostClient* host, const char*) {
    return new (std::nothrow) Faulty(host);
}
