// What each message kind costs the built plug-in file (the one users get), beside two floors that
// do the same work by hand, entered as the host enters the plug-in:
// - the printf floor: the same texts, snprintf into a stack buffer where a text has variable
//   parts and memcpy where it is fixed, one indirect call per command to a send that only reads
//   the text, the decisions that pick the case, the copy every decoder makes (of a parent
//   command, of the reply to "SD") and the answer buffer of queries (allocated with new, as the
//   plug-in allocates them), and the binding's debug line written to the same descriptor;
// - the limit: the same, but every text built by copying its pieces into its final buffer once
//   and every number written by a digit loop, entered through one indirect call with the data and
//   the type, and one more to the case's handler, as any frame with handler slots is.
// Both read the environment variables that name the configuration and the debug descriptor at
// every label and every debug text, as the plug-in must: a host may change them at any time.
//
// Instructions are counted with callgrind (repeatable to the instruction on a noisy machine),
// allocations with a counting operator new, system calls with valgrind's syscall trace, and
// time with the clock. It prints one table and exits 1 when a target is missed.
//
//   bench_messages [--plugin FILE]          the table
//   bench_messages --run CASE plugin|floor|limit N --plugin FILE
//                                           N messages of one case (what the table measures)
#include "alloc_counter.h"
#include "vorn_host_contract.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const configText = "# The bench's facility: two instances with their labels.\n"
                               "[instances.A]\ndevice = 12\ncontact = 3\nidtext = Studio A\n\n"
                               "[instances.B]\ndevice = 20\ncontact = 7\nidtext = Studio B\n";

// A host whose send only reads the text, and answers the lookups.
class ReadingHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(ReadingHost)
public:
    virtual ~ReadingHost() {}
    const char* send(const char* text, int mode) override {
        seen += static_cast<unsigned char>(text[0]);
        if (mode == VORN_SEND_COMMAND && text[0] == 'S' && text[1] == 'D')
            return text[4] == 'B' ? replyB : replyA;
        return nullptr;
    }
    char replyA[8] = "12 3";
    char replyB[8] = "20 7";
    unsigned seen = 0;
};

struct Bench {
    ReadingHost host;
    vorn_load_function load = nullptr;
    vorn_client_callback* tile = nullptr;
    std::string configPath;
    int debugFd = -1;
    bool flip = false;

    char* parent(const char* text) { return tile->dispatch(const_cast<char*>(text), 3); }
    void parentAndBack(const char* text) { tile->dispatch(parent(text), 5); }
};

// The floor's send: one indirect call, as the plug-in's.
const char* (*volatile floorSend)(Bench&, const char*, int) =
    [](Bench& b, const char* text, int mode) { return b.host.send(text, mode); };
template <std::size_t N> void sendFixed(Bench& b, const char (&text)[N]) {
    char buffer[N];
    std::memcpy(buffer, text, N);
    floorSend(b, buffer, 0);
}
// Keeps a value from being optimised away.
template <class T> void keep(T& value) {
    asm volatile("" : : "g"(&value) : "memory");
}

HostDeviceRecord on{12, 0, 3, 1}, off{12, 0, 3, 0}, other{12, 0, 4, 1};
HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
char useButtonText[] = "useButton=true", returnAllText[] = "return=all",
     commandsText[] = "_commands", instanceA[] = "instance=A", instanceB[] = "instance=B";
// What the floor knows of the tile's state.
struct FloorState {
    std::int32_t device = 12, contact = 3, state = 1;
    const char* onState = "background: red";
    const char* offState = "background: grey";
} floorState;

// The floors' label lookup: the configuration named by VORN_CONFIG (read at every label, as a
// host may change it), its parsed contents kept by the file's identity, checked with one stat
// per label, as the plug-in's store does.
const char* floorLabel(Bench&, const char* name) {
    struct stat st;
    if (::stat(std::getenv("VORN_CONFIG"), &st) != 0) return "";
    return name[0] == 'A' ? "Studio A" : "Studio B";
}

void floorPut(Bench& b, const char* property, const char* value) {
    char text[192];
    std::snprintf(text, sizeof text, "TP '%s=%s' '1' 'MyContact_Tile'", property, value);
    floorSend(b, text, 0);
}

// What every decoder does (of a parent command, of the reply to "SD"): one heap copy of the
// text, freed after the message, made as the plug-in makes it (operator new, which this
// program counts).
void decoderCopy(const char* text) {
    const std::size_t n = std::strlen(text) + 1;
    char* copy = new char[n];
    std::memcpy(copy, text, n);
    keep(copy);
    delete[] copy;
}
// An answer buffer, made as the plug-in makes it and handed back.
void answerBuffer(const char* answer, std::size_t n) {
    char* buffer = new (std::nothrow) char[n + 1];
    std::memcpy(buffer, answer, n + 1);
    keep(buffer);
    delete[] buffer;
}

// The limit's texts: pieces copied once into the final buffer, numbers by a digit loop.
struct Text {
    char buffer[192];
    char* out = buffer;
    Text& operator<<(const char* piece) {
        const std::size_t n = std::strlen(piece);
        std::memcpy(out, piece, n);
        out += n;
        return *this;
    }
    Text& operator<<(std::int32_t number) {
        std::uint32_t magnitude = static_cast<std::uint32_t>(number);
        if (number < 0) {
            *out++ = '-';
            magnitude = 0u - magnitude;
        }
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n > 0)
            *out++ = digits[--n];
        return *this;
    }
    const char* end() {
        *out = '\0';
        return buffer;
    }
    std::size_t size() const { return static_cast<std::size_t>(out - buffer); }
};

void limitPut(Bench& b, const char* property, const char* value) {
    Text text;
    text << "TP '" << property << "=" << value << "' '1' 'MyContact_Tile'";
    floorSend(b, text.end(), 0);
}

// Case-insensitive equality with a lower-case word.
bool equalsLowered(const char* text, const char* word) {
    for (; *text && *word; ++text, ++word)
        if ((*text >= 'A' && *text <= 'Z' ? *text - 'A' + 'a' : *text) != *word) return false;
    return *text == *word;
}

struct Case {
    const char* name;
    double maxRatio; // instructions to the limit's
    int maxAllocs;
    int maxSyscalls; // -1: not a target
    void (*plugin)(Bench&);
    void (*floor)(Bench&, const void* data);
    void (*limit)(Bench&, const void* data);
    int type;                   // the message type the limit is entered with
    const void* data = nullptr; // the message the floors are given, when it is always the same
};

// The limit's handlers where they are the floor's: nothing to write.
void noReportFor(Bench&, const void* data) {
    const HostDeviceRecord& r = *static_cast<const HostDeviceRecord*>(data);
    if (r.device == floorState.device && r.index == floorState.contact &&
        (r.state ? 1 : 0) != floorState.state)
        std::abort();
}

const Case cases[] = {
    {"report for another contact", 1.5, 0, -1, [](Bench& b) { b.tile->dispatch(&other, 1); },
     noReportFor, noReportFor, 1, &other},
    {"report that changes the state", 2.0, 0, -1,
     [](Bench& b) { b.tile->dispatch((b.flip = !b.flip) ? &off : &on, 1); },
     [](Bench& b, const void*) {
         const HostDeviceRecord& r = (b.flip = !b.flip) ? off : on;
         keep(r);
         if (r.device != floorState.device || r.index != floorState.contact) return;
         const std::int32_t state = r.state ? 1 : 0;
         if (state == floorState.state) return;
         floorState.state = state;
         floorPut(b, "statesheet", state ? floorState.onState : floorState.offState);
         char text[32];
         std::snprintf(text, sizeof text, "HN 'GPIvalue=%d'", static_cast<int>(state));
         floorSend(b, text, 0);
     },
     [](Bench& b, const void*) {
         const HostDeviceRecord& r = (b.flip = !b.flip) ? off : on;
         keep(r);
         if (r.device != floorState.device || r.index != floorState.contact) return;
         const std::int32_t state = r.state ? 1 : 0;
         if (state == floorState.state) return;
         floorState.state = state;
         limitPut(b, "statesheet", state ? floorState.onState : floorState.offState);
         Text text;
         text << "HN 'GPIvalue=" << state << "'";
         floorSend(b, text.end(), 0);
     },
     1},
    {"repeated report", 1.5, 0, -1, [](Bench& b) { b.tile->dispatch(&on, 1); }, noReportFor,
     noReportFor, 1, &on},
    {"press", 2.0, 0, -1, [](Bench& b) { b.tile->dispatch(&press, 2); },
     [](Bench& b, const void* data) {
         const HostButtonRecord& press = *static_cast<const HostButtonRecord*>(data);
         if (std::strcmp(press.panel, "1") != 0 || std::strcmp(press.control, "MyContact_Tile"))
             return;
         char text[48];
         std::snprintf(text, sizeof text, "GS %d %d %d %d", static_cast<int>(floorState.device),
                       static_cast<int>(floorState.contact), floorState.state ? 0 : 1, 1);
         floorSend(b, text, 0);
     },
     [](Bench& b, const void* data) {
         const HostButtonRecord& press = *static_cast<const HostButtonRecord*>(data);
         if (std::strcmp(press.panel, "1") != 0 || std::strcmp(press.control, "MyContact_Tile"))
             return;
         Text text;
         text << "GS " << floorState.device << " " << floorState.contact << " "
              << (floorState.state ? 0 : 1) << " 1";
         floorSend(b, text.end(), 0);
     },
     2, &press},
    {"tick of timer 1", 2.0, 0, -1,
     [](Bench& b) { b.tile->dispatch(reinterpret_cast<void*>(1), 4); },
     [](Bench& b, const void* data) {
         if (reinterpret_cast<std::intptr_t>(data) != 1) return;
         char text[48];
         std::snprintf(text, sizeof text, "GP %d %d %d", static_cast<int>(floorState.device),
                       static_cast<int>(floorState.contact), static_cast<int>(floorState.contact));
         floorSend(b, text, 0);
     },
     [](Bench& b, const void* data) {
         if (reinterpret_cast<std::intptr_t>(data) != 1) return;
         Text text;
         text << "GP " << floorState.device << " " << floorState.contact << " "
              << floorState.contact;
         floorSend(b, text.end(), 0);
     },
     4, reinterpret_cast<const void*>(1)},
    {"useButton=true", 2.0, 1, -1, [](Bench& b) { b.parentAndBack(useButtonText); },
     [](Bench& b, const void* data) {
         const char* useButtonText = static_cast<const char*>(data);
         decoderCopy(useButtonText);
         const char* eq = std::strchr(useButtonText, '=');
         if (!eq || std::strncmp(useButtonText, "useButton",
                                 static_cast<std::size_t>(eq - useButtonText)) != 0)
             return;
         if (strcasecmp(eq + 1, "true") != 0) return;
         sendFixed(b, "TP 'style=button' '1' 'MyContact_Tile'");
     },
     [](Bench& b, const void* data) {
         const char* useButtonText = static_cast<const char*>(data);
         decoderCopy(useButtonText);
         const char* eq = std::strchr(useButtonText, '=');
         if (!eq || std::strncmp(useButtonText, "useButton",
                                 static_cast<std::size_t>(eq - useButtonText)) != 0)
             return;
         if (!equalsLowered(eq + 1, "true")) return;
         Text text;
         text << "TP '"
              << "style=button"
              << "' '1' 'MyContact_Tile'";
         floorSend(b, text.end(), 0);
     },
     3, useButtonText},
    {"return=all", 2.0, 2, -1, [](Bench& b) { b.parentAndBack(returnAllText); },
     [](Bench&, const void* data) {
         const char* returnAllText = static_cast<const char*>(data);
         decoderCopy(returnAllText);
         if (std::strncmp(returnAllText, "return=", 7) != 0 ||
             std::strcmp(returnAllText + 7, "all"))
             return;
         char answer[512];
         const int n = std::snprintf(
             answer, sizeof answer,
             "useButton=%s\nsendGPI=%s\nuseText=%s\nbuttonText=%s\nstateSheet=%s\noffState=%s\n"
             "onState=%s",
             "true", "true", "false", "", "", floorState.offState, floorState.onState);
         answerBuffer(answer, static_cast<std::size_t>(n));
     },
     [](Bench&, const void* data) {
         const char* returnAllText = static_cast<const char*>(data);
         decoderCopy(returnAllText);
         if (std::strncmp(returnAllText, "return=", 7) != 0 ||
             std::strcmp(returnAllText + 7, "all"))
             return;
         Text answer;
         answer << "useButton="
                << "true"
                << "\nsendGPI="
                << "true"
                << "\nuseText="
                << "false"
                << "\nbuttonText="
                << ""
                << "\nstateSheet="
                << ""
                << "\noffState=" << floorState.offState << "\nonState=" << floorState.onState;
         const std::size_t n = answer.size();
         answerBuffer(answer.end(), n);
     },
     3, returnAllText},
    {"_commands", 2.0, 2, -1, [](Bench& b) { b.parentAndBack(commandsText); },
     [](Bench&, const void* data) {
         static const char answer[] =
             "useButton=[value]\nsendGPI=[value]\nuseText=[value]\nbuttonText=[value]";
         const char* commandsText = static_cast<const char*>(data);
         decoderCopy(commandsText);
         if (std::strcmp(commandsText, "_commands") != 0) return;
         answerBuffer(answer, sizeof answer - 1);
     },
     [](Bench&, const void* data) {
         static const char answer[] =
             "useButton=[value]\nsendGPI=[value]\nuseText=[value]\nbuttonText=[value]";
         const char* commandsText = static_cast<const char*>(data);
         decoderCopy(commandsText);
         if (std::strcmp(commandsText, "_commands") != 0) return;
         answerBuffer(answer, sizeof answer - 1);
     },
     3, commandsText},
    // Alternates between two instances; the label comes from the configuration file.
    {"re-binding with labels from the configuration", 2.0, 2, 2,
     [](Bench& b) { b.parentAndBack((b.flip = !b.flip) ? instanceB : instanceA); },
     [](Bench& b, const void*) {
         const char* text = (b.flip = !b.flip) ? instanceB : instanceA;
         decoderCopy(text);
         const char* name = std::strchr(text, '=') + 1;
         char line[96];
         const int n =
             std::snprintf(line, sizeof line, "Instance change code called - Instance=%s\n", name);
         const int fd = static_cast<int>(std::strtol(std::getenv("VORN_DEBUG_FD"), nullptr, 10));
         (void)::send(fd, line, static_cast<std::size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT);
         char command[96];
         std::snprintf(command, sizeof command, "GU %d", static_cast<int>(floorState.device));
         floorSend(b, command, 0);
         std::snprintf(command, sizeof command, "SD '%s'", name);
         const char* reply = floorSend(b, command, 0);
         decoderCopy(reply);
         char* end = nullptr;
         const long device = std::strtol(reply, &end, 10);
         const long contact = std::strtol(end, nullptr, 10);
         floorSend(b, reply, 5);
         floorState.device = static_cast<std::int32_t>(device);
         floorState.contact = static_cast<std::int32_t>(contact);
         std::snprintf(command, sizeof command, "GR %ld %ld %ld", device, contact, contact);
         floorSend(b, command, 0);
         std::snprintf(command, sizeof command, "GP %ld %ld %ld", device, contact, contact);
         floorSend(b, command, 0);
         floorPut(b, "text", floorLabel(b, name));
     },
     [](Bench& b, const void*) {
         const char* text = (b.flip = !b.flip) ? instanceB : instanceA;
         decoderCopy(text);
         const char* name = std::strchr(text, '=') + 1;
         Text line;
         line << "Instance change code called - Instance=" << name << "\n";
         int fd = 0;
         for (const char* d = std::getenv("VORN_DEBUG_FD"); *d; ++d)
             fd = fd * 10 + (*d - '0');
         (void)::send(fd, line.buffer, line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
         Text command;
         command << "GU " << floorState.device;
         floorSend(b, command.end(), 0);
         Text lookup;
         lookup << "SD '" << name << "'";
         const char* reply = floorSend(b, lookup.end(), 0);
         decoderCopy(reply);
         std::int32_t numbers[2] = {0, 0};
         const char* p = reply;
         for (std::int32_t& number : numbers) {
             while (*p == ' ')
                 ++p;
             for (; *p >= '0' && *p <= '9'; ++p)
                 number = number * 10 + (*p - '0');
         }
         floorSend(b, reply, 5);
         floorState.device = numbers[0];
         floorState.contact = numbers[1];
         Text gr, gp;
         gr << "GR " << numbers[0] << " " << numbers[1] << " " << numbers[1];
         floorSend(b, gr.end(), 0);
         gp << "GP " << numbers[0] << " " << numbers[1] << " " << numbers[1];
         floorSend(b, gp.end(), 0);
         limitPut(b, "text", floorLabel(b, name));
     },
     3},
};
constexpr int caseCount = sizeof cases / sizeof cases[0];

// Makes the tile every case starts from: bound to A with its contact on, looks set, labels
// from the configuration.
bool setUp(Bench& b, const std::string& pluginPath) {
    void* library = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "bench_messages: %s\n", dlerror());
        return false;
    }
    b.load = reinterpret_cast<vorn_load_function>(dlsym(library, VORN_LOAD_FUNCTION_NAME));
    if (!b.load) {
        std::fprintf(stderr, "bench_messages: %s: does not export %s\n", pluginPath.c_str(),
                     VORN_LOAD_FUNCTION_NAME);
        return false;
    }
    char dir[] = "/tmp/vorn-bench-XXXXXX";
    if (!mkdtemp(dir)) return false;
    b.configPath = std::string(dir) + "/vorn.ini";
    FILE* file = std::fopen(b.configPath.c_str(), "w");
    if (!file) return false;
    std::fputs(configText, file);
    std::fclose(file);
    // A studio's configuration was written long before the panel runs.
    struct timeval old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ::utimes(b.configPath.c_str(), old);
    setenv("VORN_CONFIG", b.configPath.c_str(), 1);
    // The debug texts go where vorn-host sends them: a datagram socket, read by nobody here
    // (what does not fit is dropped, as the platform's debug output drops it).
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0) return false;
    b.debugFd = pair[1];
    setenv("VORN_DEBUG_FD", std::to_string(b.debugFd).c_str(), 1);
    b.tile = b.load(&b.host, "");
    if (!b.tile) return false;
    b.parentAndBack("onState=background: red");
    b.parentAndBack("offState=background: grey");
    b.parentAndBack("instance=A");
    b.tile->dispatch(&on, 1);
    return true;
}

void tearDown(Bench& b) {
    vorn_abi_delete(b.tile);
    ::unlink(b.configPath.c_str());
    ::rmdir(b.configPath.substr(0, b.configPath.rfind('/')).c_str());
}

} // namespace

// The floor is entered through one indirect call with the message's data, as the host enters
// the plug-in through dispatch.
static void (*volatile floorEntry)(Bench&, const void*) = nullptr;
static const void* floorData = nullptr;
static void enterFloor(Bench& b) {
    floorEntry(b, floorData);
}
// The limit as the plug-in is entered: one indirect call with the data and the type, a switch
// on the type, and one indirect call to the handler of that kind.
static void (*volatile limitHandler)(Bench&, const void*) = nullptr;
static int limitType = 0;
static void limitDispatch(Bench& b, const void* data, int type) {
    switch (type) {
    case 1:
    case 2:
    case 3:
    case 4:
        limitHandler(b, data);
        break;
    default:
        break;
    }
}
static void (*volatile limitEntry)(Bench&, const void*, int) = limitDispatch;
static void enterLimit(Bench& b) {
    limitEntry(b, floorData, limitType);
}
// Points both floors at a case.
static void aimFloors(const Case& c) {
    floorEntry = c.floor;
    limitHandler = c.limit;
    floorData = c.data;
    limitType = c.type;
}

// The measured loop: callgrind counts only what runs inside it.
extern "C" __attribute__((noinline)) void vorn_bench_loop(void (*body)(Bench&), Bench& b, long n) {
    for (long i = 0; i < n; ++i)
        body(b);
}

namespace {

const int callgrindMessages = 10000;
const int syscallMessages = 200;

// Runs a command, its output to a file; false when it did not run or failed.
bool runQuiet(const std::vector<std::string>& argv, const std::string& output) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string readAll(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Instructions per message of one side of a case, from callgrind; negative when it failed.
double instructions(const std::string& self, const std::string& plugin, int index, const char* who,
                    const std::string& tmp) {
    const std::string out = tmp + "/callgrind." + std::to_string(index) + "." + who;
    if (!runQuiet({"valgrind", "--tool=callgrind", "--collect-atstart=no",
                   "--toggle-collect=vorn_bench_loop", "--callgrind-out-file=" + out, self, "--run",
                   std::to_string(index), who, std::to_string(callgrindMessages), "--plugin",
                   plugin},
                  out + ".log"))
        return -1;
    const std::string data = readAll(out);
    const std::size_t at = data.find("\ntotals: ");
    const std::size_t summary = data.find("\nsummary: ");
    const std::size_t pos = at != std::string::npos ? at + 9 : summary + 10;
    if (at == std::string::npos && summary == std::string::npos) return -1;
    return std::strtod(data.c_str() + pos, nullptr) / callgrindMessages;
}

// System calls per message of the plug-in side, from valgrind's syscall trace of a run: the
// calls between the two marks that --run makes around its loop.
const char* const startMark = "/vorn-bench-loop-starts";
const char* const endMark = "/vorn-bench-loop-ends";

double syscalls(const std::string& self, const std::string& plugin, int index,
                const std::string& tmp) {
    const std::string out = tmp + "/syscalls." + std::to_string(index);
    if (!runQuiet({"valgrind", "--tool=none", "--trace-syscalls=yes", self, "--run",
                   std::to_string(index), "plugin", std::to_string(syscallMessages), "--plugin",
                   plugin},
                  out))
        return -1;
    const std::string log = readAll(out);
    const std::size_t from = log.find(startMark), to = log.find(endMark);
    if (from == std::string::npos || to == std::string::npos) return -1;
    // One line per call; a call that blocks has a second line, "SYSCALL[..](N) ... [async]".
    long count = 0;
    for (std::size_t p = log.find("SYSCALL[", from); p < to; p = log.find("SYSCALL[", p + 1)) {
        const std::size_t close = log.find(')', p);
        if (log.compare(close, 6, ") ... ") != 0) ++count;
    }
    return static_cast<double>(count - 1) / syscallMessages; // the end mark's own line
}

// Nanoseconds per message: the best of several runs.
double nanoseconds(void (*body)(Bench&), Bench& b) {
    double best = 1e300;
    for (int run = 0; run < 7; ++run) {
        const auto start = std::chrono::steady_clock::now();
        vorn_bench_loop(body, b, 20000);
        const auto end = std::chrono::steady_clock::now();
        best =
            std::min(best, std::chrono::duration<double, std::nano>(end - start).count() / 20000);
    }
    return best;
}

double allocations(void (*body)(Bench&), Bench& b) {
    AllocCounter counter;
    vorn_bench_loop(body, b, 1000);
    return static_cast<double>(counter.count()) / 1000;
}

int table(const std::string& self, const std::string& plugin) {
    char tmp[] = "/tmp/vorn-bench-run-XXXXXX";
    if (!mkdtemp(tmp)) return 2;
    std::printf("plug-in %s\n%-46s %7s %8s %6s %8s %6s %6s %5s %7s %8s %10s  %s\n", plugin.c_str(),
                "message", "Ir/msg", "printf", "ratio", "limit", "ratio", "allocs", "calls",
                "ns/msg", "limit ns", "target", "");
    int missed = 0;
    bool measured = true;
    for (int i = 0; i < caseCount; ++i) {
        const Case& c = cases[i];
        double ns = 0, limitNs = 0, allocs = 0;
        {
            Bench b;
            if (!setUp(b, plugin)) return 2;
            vorn_bench_loop(c.plugin, b, 200); // warm: lazy binding, caches
            ns = nanoseconds(c.plugin, b);
            allocs = allocations(c.plugin, b);
            aimFloors(c);
            vorn_bench_loop(enterLimit, b, 200);
            limitNs = nanoseconds(enterLimit, b);
            tearDown(b);
        }
        const double ir = instructions(self, plugin, i, "plugin", tmp);
        const double floorIr = instructions(self, plugin, i, "floor", tmp);
        const double limitIr = instructions(self, plugin, i, "limit", tmp);
        const double calls = syscalls(self, plugin, i, tmp);
        if (ir < 0 || floorIr <= 0 || limitIr <= 0 || calls < 0) measured = false;
        const double floorRatio = floorIr > 0 ? ir / floorIr : 0;
        const double ratio = limitIr > 0 ? ir / limitIr : 0;
        const bool met = ir >= 0 && limitIr > 0 && ratio <= c.maxRatio &&
                         allocs <= c.maxAllocs + 1e-9 &&
                         (c.maxSyscalls < 0 || (calls >= 0 && calls <= c.maxSyscalls + 1e-9));
        missed += met ? 0 : 1;
        char target[64];
        std::snprintf(target, sizeof target, "%.1fx,%d%s", c.maxRatio, c.maxAllocs,
                      c.maxSyscalls >= 0 ? (",<=" + std::to_string(c.maxSyscalls)).c_str() : "");
        std::printf("%-46s %7.0f %8.0f %6.2f %8.0f %6.2f %6.2f %5.2f %7.1f %8.1f %10s  %s\n",
                    c.name, ir, floorIr, floorRatio, limitIr, ratio, allocs, calls, ns, limitNs,
                    target, met ? "met" : "MISSED");
        std::fflush(stdout);
    }
    ::rmdir(tmp);
    if (!measured) {
        std::printf("valgrind did not run (install it: cmake/install-deps.sh bench); the "
                    "instruction counts were not measured\n");
        return 2;
    }
    std::printf("target: ratio of instructions to the limit's, allocations and system calls "
                "per message at most\n%s\n",
                missed ? (std::to_string(missed) + " targets missed").c_str() : "all targets met");
    return missed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string plugin = VORN_BENCH_PLUGIN;
    int runIndex = -1;
    std::string who;
    long count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plugin" && i + 1 < argc) {
            plugin = argv[++i];
        } else if (a == "--run" && i + 3 < argc) {
            runIndex = std::atoi(argv[++i]);
            who = argv[++i];
            count = std::atol(argv[++i]);
        } else {
            std::fprintf(
                stderr,
                "usage: bench_messages [--plugin FILE] [--run CASE plugin|floor|limit N]\n");
            return 2;
        }
    }
    if (runIndex < 0) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return 2;
        self[n] = '\0';
        return table(self, plugin);
    }
    if (runIndex >= caseCount || (who != "plugin" && who != "floor" && who != "limit")) return 2;
    Bench b;
    if (!setUp(b, plugin)) return 2;
    aimFloors(cases[runIndex]);
    void (*body)(Bench&) = who == "plugin"  ? cases[runIndex].plugin
                           : who == "floor" ? enterFloor
                                            : enterLimit;
    for (int i = 0; i < 200; ++i)
        body(b); // warm: lazy binding, caches
    (void)::access(startMark, F_OK);
    vorn_bench_loop(body, b, count);
    (void)::access(endMark, F_OK);
    tearDown(b);
    return 0;
}
