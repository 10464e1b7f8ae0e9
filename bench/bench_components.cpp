// What each kind of message costs every shipped component, learned the way a host learns a
// component: from what it answers and sends. For each plug-in file given: heap allocations and
// time per message, against one target a host relies on: the messages a panel sends all day
// (device reports, polls, presses) allocate nothing; a parent command allocates at most two
// blocks (the parsed copy of the text, the answer buffer), a setting at most three. Exits 1
// when a target is missed. (bench_messages measures the contact tile's instructions against
// hand-written floors.)
//
//   bench_components [PLUGIN...]     (default: every shipped component of this build)
#include "alloc_counter.h"
#include "vorn_host_contract.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

// A host that answers the lookup of "A" with device 12, contact 3, and remembers the first
// control a component put properties on and the first range it registered.
class LearningHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(LearningHost)
public:
    virtual ~LearningHost() {}
    const char* send(const char* text, int mode) override {
        if (mode != VORN_SEND_COMMAND) return nullptr;
        if (std::strncmp(text, "SD '", 4) == 0) return reply;
        if (learning && control.empty() && std::strncmp(text, "TP '", 4) == 0) {
            // TP 'x' 'panel' 'control': the last two texts.
            const std::string t = text;
            const std::size_t end = t.rfind('\'');
            const std::size_t start = t.rfind('\'', end - 1);
            const std::size_t panelEnd = t.rfind('\'', start - 1);
            const std::size_t panelStart = t.rfind('\'', panelEnd - 1);
            if (panelStart != std::string::npos && start != std::string::npos) {
                control = t.substr(start + 1, end - start - 1);
                panel = t.substr(panelStart + 1, panelEnd - panelStart - 1);
            }
        }
        if (learning && last == 0 && std::strncmp(text, "GR ", 3) == 0) {
            int device = 0, first = 0;
            std::sscanf(text, "GR %d %d %d", &device, &first, &last);
        }
        return nullptr;
    }
    char reply[8] = "12 3";
    bool learning = true;
    std::string panel, control;
    int last = 0;
};

struct Component {
    LearningHost host;
    vorn_client_callback* it = nullptr;
    std::string setting; // the first name of its _commands answer, if any
};

std::string answerOf(vorn_client_callback* c, const char* text) {
    char* answer = c->dispatch(const_cast<char*>(text), VORN_MSG_PARENT);
    std::string got = answer ? answer : "";
    c->dispatch(answer, VORN_MSG_RELEASE);
    return got;
}

struct Measure {
    const char* what;
    int maxAllocs;
    std::vector<std::string> texts; // parent commands, taken in turn; empty: a raw message
    int type = 0;
    std::vector<const void*> data = {}; // the raw messages' data, taken in turn
};

// Allocations and nanoseconds per message, over n messages.
void run(Component& c, const Measure& m, long n, double& allocs, double& ns) {
    std::size_t counted = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        AllocCounter counter;
        for (long i = 0; i < n; ++i) {
            if (m.texts.empty()) {
                c.it->dispatch(
                    const_cast<void*>(m.data[static_cast<std::size_t>(i) % m.data.size()]), m.type);
            } else {
                const std::string& text = m.texts[static_cast<std::size_t>(i) % m.texts.size()];
                char* answer = c.it->dispatch(const_cast<char*>(text.c_str()), VORN_MSG_PARENT);
                c.it->dispatch(answer, VORN_MSG_RELEASE);
            }
        }
        counted = counter.count();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    allocs = static_cast<double>(counted) / static_cast<double>(n);
    ns = std::chrono::duration<double, std::nano>(took).count() / static_cast<double>(n);
}

bool bench(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "bench_components: %s\n", dlerror());
        return false;
    }
    auto load = reinterpret_cast<vorn_load_function>(dlsym(library, VORN_LOAD_FUNCTION_NAME));
    if (!load) {
        std::fprintf(stderr, "bench_components: %s: no %s\n", path, VORN_LOAD_FUNCTION_NAME);
        return false;
    }
    Component c;
    c.it = load(&c.host, "");
    if (!c.it) return false;
    const std::string commands = answerOf(c.it, "_commands");
    c.setting = commands.substr(0, commands.find('='));
    answerOf(c.it, "instance=A");
    c.host.learning = false;
    const int last = c.host.last > 0 ? c.host.last : 3;

    HostDeviceRecord other{13, 0, 3, 1}, on{12, 0, 3, 1};
    HostDeviceRecord onLast{12, 0, last, 1}, offLast{12, 0, last, 0};
    HostButtonRecord press{0, 0, c.host.panel.c_str(), c.host.control.c_str()};
    std::vector<Measure> measures = {
        {"report for another device", 0, {}, VORN_MSG_DEVICE_REPORT, {&other}},
        {"report of a known state", 0, {}, VORN_MSG_DEVICE_REPORT, {&on}},
        // The last contact of its range, on and off in turn.
        {"report that changes a state", 0, {}, VORN_MSG_DEVICE_REPORT, {&onLast, &offLast}},
        {"tick of timer 1", 0, {}, VORN_MSG_TIMER, {reinterpret_cast<void*>(1)}},
        {"press on its control", 0, {}, VORN_MSG_BUTTON, {&press}},
        {"return=all", 2, {"return=all"}},
        {"_commands", 2, {"_commands"}},
        {"_events", 2, {"_events"}},
        {"an unknown name", 2, {"noSuchName=1"}},
    };
    if (!c.setting.empty())
        measures.push_back({"its first setting", 3, {c.setting + "=true", c.setting + "=false"}});
    std::printf("plug-in %s (control '%s' '%s', contacts 3-%d of device 12)\n", path,
                c.host.panel.c_str(), c.host.control.c_str(), last);
    std::printf("%-36s %8s %8s %8s  %s\n", "message", "allocs", "limit", "ns/msg", "target");
    bool met = true;
    for (const Measure& m : measures) {
        double allocs = 0, ns = 0;
        run(c, m, 20000, allocs, ns);
        const bool ok = allocs <= m.maxAllocs;
        met = met && ok;
        std::printf("%-36s %8.2f %8d %8.1f  %s\n", m.what, allocs, m.maxAllocs, ns,
                    ok ? "met" : "MISSED");
    }
    vorn_abi_delete(c.it);
    return met;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> plugins(argv + 1, argv + argc);
    if (plugins.empty()) {
        const std::string built = VORN_BENCH_PLUGINS; // '|' between them
        for (std::size_t at = 0; at <= built.size();) {
            std::size_t end = built.find('|', at);
            if (end == std::string::npos) end = built.size();
            if (end > at) plugins.push_back(built.substr(at, end - at));
            at = end + 1;
        }
    }
    bool met = true;
    for (const std::string& plugin : plugins) {
        met = bench(plugin.c_str()) && met;
        std::printf("\n");
    }
    std::printf(met ? "all targets met\n" : "targets missed\n");
    return met ? 0 : 1;
}
