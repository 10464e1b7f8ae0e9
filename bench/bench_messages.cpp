// Cost of each message kind through dispatch, beside a baseline that does the least any
// implementation must: format the same command texts with snprintf into a stack buffer and call
// the same send. Prints time per message, heap allocations per message and the ratio.
#include "Contact_Tile.h"
#include "alloc_counter.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// A host whose send only counts, and answers the lookups.
class CountingHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(CountingHost)
public:
    virtual ~CountingHost() {}
    const char* send(const char* text, int mode) override {
        ++sent;
        if (mode == 0 && text[0] == 'S' && text[1] == 'D') return reply;
        return nullptr;
    }
    char reply[8] = "12 3";
    std::uint64_t sent = 0;
};

struct Tile {
    CountingHost host;
    vorn_client_callback* tile = vorn_create_component<Contact_Tile>(&host, "");
    Tile() {
        parent("onState=background: red");
        parent("offState=background: grey");
        parent("instance=A");
        HostDeviceRecord on{12, 0, 3, 1};
        tile->dispatch(&on, 1);
    }
    ~Tile() { vorn_abi_delete(tile); }
    void parent(const char* text) {
        char* answer = tile->dispatch(const_cast<char*>(text), 3);
        tile->dispatch(answer, 5);
    }
};

// Allocation count per message, reported as a counter.
template <class Body> void measure(benchmark::State& state, Body body) {
    std::size_t allocations = 0;
    for (auto _ : state) {
        AllocCounter counter;
        body();
        allocations += counter.count();
    }
    state.counters["allocs/msg"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
}

void ReportOtherContact(benchmark::State& s) {
    Tile t;
    HostDeviceRecord r{12, 0, 4, 1};
    measure(s, [&] { t.tile->dispatch(&r, 1); });
}
void ReportOtherContact_Baseline(benchmark::State& s) {
    CountingHost host;
    HostDeviceRecord r{12, 0, 4, 1};
    volatile std::int32_t device = 12, contact = 3;
    measure(s, [&] {
        benchmark::DoNotOptimize(&r);
        if (r.device == device && r.index == contact) host.send("", 0);
    });
}

void ReportStateChange(benchmark::State& s) {
    Tile t;
    HostDeviceRecord on{12, 0, 3, 1}, off{12, 0, 3, 0};
    bool flip = false;
    measure(s, [&] { t.tile->dispatch((flip = !flip) ? &off : &on, 1); });
    s.SetItemsProcessed(s.iterations());
}
void ReportStateChange_Baseline(benchmark::State& s) {
    CountingHost host;
    HostDeviceRecord on{12, 0, 3, 1}, off{12, 0, 3, 0};
    const std::string onState = "background: red", offState = "background: grey";
    bool flip = false;
    int recorded = 1;
    measure(s, [&] {
        const HostDeviceRecord& r = (flip = !flip) ? off : on;
        benchmark::DoNotOptimize(&r);
        if (r.device != 12 || r.index != 3 || r.state == recorded) return;
        recorded = r.state ? 1 : 0;
        char text[256];
        std::snprintf(text, sizeof text, "TP 'statesheet=%s' '%d' '%s'",
                      recorded ? onState.c_str() : offState.c_str(), 1, "MyContact_Tile");
        host.send(text, 0);
        std::snprintf(text, sizeof text, "HN 'GPIvalue=%d'", recorded);
        host.send(text, 0);
    });
}

void ReportRepeated(benchmark::State& s) {
    Tile t;
    HostDeviceRecord on{12, 0, 3, 1};
    measure(s, [&] { t.tile->dispatch(&on, 1); });
}
void ReportRepeated_Baseline(benchmark::State& s) {
    CountingHost host;
    HostDeviceRecord on{12, 0, 3, 1};
    volatile int recorded = 1;
    measure(s, [&] {
        benchmark::DoNotOptimize(&on);
        if (on.device == 12 && on.index == 3 && on.state != recorded) host.send("", 0);
    });
}

void Press(benchmark::State& s) {
    Tile t;
    HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
    measure(s, [&] { t.tile->dispatch(&press, 2); });
}
void Press_Baseline(benchmark::State& s) {
    CountingHost host;
    HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
    measure(s, [&] {
        benchmark::DoNotOptimize(&press);
        if (std::strcmp(press.panel, "1") != 0 || std::strcmp(press.control, "MyContact_Tile") != 0)
            return;
        char text[48];
        std::snprintf(text, sizeof text, "GS %d %d %d %d", 12, 3, 0, 1);
        host.send(text, 0);
    });
}

void TickTimer1(benchmark::State& s) {
    Tile t;
    measure(s, [&] { t.tile->dispatch(reinterpret_cast<void*>(1), 4); });
}
void TickTimer1_Baseline(benchmark::State& s) {
    CountingHost host;
    volatile std::intptr_t id = 1;
    measure(s, [&] {
        if (id != 1) return;
        char text[48];
        std::snprintf(text, sizeof text, "GP %d %d %d", 12, 3, 3);
        host.send(text, 0);
    });
}

void ParentUseButton(benchmark::State& s) {
    Tile t;
    char text[] = "useButton=true";
    measure(s, [&] { t.tile->dispatch(text, 3); });
}
void ParentUseButton_Baseline(benchmark::State& s) {
    CountingHost host;
    char text[] = "useButton=true";
    measure(s, [&] {
        benchmark::DoNotOptimize(text);
        const char* eq = std::strchr(text, '=');
        if (!eq || std::strncmp(text, "useButton", static_cast<std::size_t>(eq - text)) != 0)
            return;
        char command[64];
        std::snprintf(command, sizeof command, "TP '%s' '%d' '%s'", "style=button", 1,
                      "MyContact_Tile");
        host.send(command, 0);
    });
}

void ParentReturnAll(benchmark::State& s) {
    Tile t;
    char text[] = "return=all";
    measure(s, [&] { t.tile->dispatch(t.tile->dispatch(text, 3), 5); });
}
void ParentReturnAll_Baseline(benchmark::State& s) {
    char text[] = "return=all";
    measure(s, [&] {
        benchmark::DoNotOptimize(text);
        char answer[512];
        const int n =
            std::snprintf(answer, sizeof answer,
                          "useButton=%s\nsendGPI=%s\nuseText=%s\nbuttonText=%s\nstateSheet=%s\n"
                          "offState=%s\nonState=%s",
                          "true", "true", "false", "", "", "background: grey", "background: red");
        char* buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1));
        std::memcpy(buffer, answer, static_cast<std::size_t>(n) + 1);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    });
}

void ParentCommands(benchmark::State& s) {
    Tile t;
    char text[] = "_commands";
    measure(s, [&] { t.tile->dispatch(t.tile->dispatch(text, 3), 5); });
}
void ParentCommands_Baseline(benchmark::State& s) {
    char text[] = "_commands";
    static const char answer[] =
        "useButton=[value]\nsendGPI=[value]\nuseText=[value]\nbuttonText=[value]";
    measure(s, [&] {
        benchmark::DoNotOptimize(text);
        char* buffer = static_cast<char*>(std::malloc(sizeof answer));
        std::memcpy(buffer, answer, sizeof answer);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    });
}

// Binding alternates between two instances; the label comes from buttonText (useText=true), so
// no configuration file is read.
void Binding(benchmark::State& s) {
    Tile t;
    t.parent("useText=true");
    char a[] = "instance=A", b[] = "instance=B";
    bool flip = false;
    measure(s, [&] { t.tile->dispatch((flip = !flip) ? b : a, 3); });
}
void Binding_Baseline(benchmark::State& s) {
    CountingHost host;
    char a[] = "instance=A", b[] = "instance=B";
    bool flip = false;
    measure(s, [&] {
        const char* text = (flip = !flip) ? b : a;
        benchmark::DoNotOptimize(text);
        const char* name = std::strchr(text, '=') + 1;
        char command[256];
        std::snprintf(command, sizeof command, "GU %d", 12);
        host.send(command, 0);
        std::snprintf(command, sizeof command, "SD '%s'", name);
        const char* reply = host.send(command, 0);
        char* end = nullptr;
        const long device = std::strtol(reply, &end, 10);
        const long contact = std::strtol(end, nullptr, 10);
        host.send(reply, 5);
        std::snprintf(command, sizeof command, "GR %ld %ld %ld", device, contact, contact);
        host.send(command, 0);
        std::snprintf(command, sizeof command, "GP %ld %ld %ld", device, contact, contact);
        host.send(command, 0);
        std::snprintf(command, sizeof command, "TP 'text=%s' '%d' '%s'", "", 1, "MyContact_Tile");
        host.send(command, 0);
    });
}

struct Row {
    const char* name;
    int maxAllocs;   // -1: no target
    double maxRatio; // 0: no target
};
const Row rows[] = {
    {"ReportOtherContact", 0, 0},
    {"ReportStateChange", 2, 1.5},
    {"ReportRepeated", 0, 0},
    {"Press", 0, 0},
    {"TickTimer1", 0, 0},
    {"ParentUseButton", 1, 0},
    {"ParentReturnAll", -1, 0},
    {"ParentCommands", -1, 0},
    {"Binding", 4, 0},
};

// Keeps each run's time and allocation count for the table at the end.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            Result& r = results[run.benchmark_name()];
            r.ns = run.GetAdjustedRealTime();
            auto a = run.counters.find("allocs/msg");
            r.allocs = a == run.counters.end() ? 0 : static_cast<double>(a->second);
        }
    }
    struct Result {
        double ns = 0, allocs = 0;
    };
    std::map<std::string, Result> results;
};

} // namespace

BENCHMARK(ReportOtherContact);
BENCHMARK(ReportOtherContact_Baseline);
BENCHMARK(ReportStateChange);
BENCHMARK(ReportStateChange_Baseline);
BENCHMARK(ReportRepeated);
BENCHMARK(ReportRepeated_Baseline);
BENCHMARK(Press);
BENCHMARK(Press_Baseline);
BENCHMARK(TickTimer1);
BENCHMARK(TickTimer1_Baseline);
BENCHMARK(ParentUseButton);
BENCHMARK(ParentUseButton_Baseline);
BENCHMARK(ParentReturnAll);
BENCHMARK(ParentReturnAll_Baseline);
BENCHMARK(ParentCommands);
BENCHMARK(ParentCommands_Baseline);
BENCHMARK(Binding);
BENCHMARK(Binding_Baseline);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-20s %10s %10s %7s %11s  %s\n", "message", "ns/msg", "baseline", "ratio",
                "allocs/msg", "targets");
    int missed = 0;
    for (const Row& row : rows) {
        const auto own = reporter.results.find(row.name);
        const auto base = reporter.results.find(std::string(row.name) + "_Baseline");
        if (own == reporter.results.end() || base == reporter.results.end()) continue;
        const double ratio = base->second.ns > 0 ? own->second.ns / base->second.ns : 0;
        std::string verdict;
        if (row.maxAllocs >= 0) {
            const bool ok = own->second.allocs <= row.maxAllocs + 1e-9;
            verdict += (ok ? "allocs<=" : "MISSED allocs<=") + std::to_string(row.maxAllocs) + " ";
            missed += ok ? 0 : 1;
        }
        if (row.maxRatio > 0) {
            const bool ok = ratio <= row.maxRatio;
            char text[32];
            std::snprintf(text, sizeof text, "%sratio<=%.1f", ok ? "" : "MISSED ", row.maxRatio);
            verdict += text;
            missed += ok ? 0 : 1;
        }
        std::printf("%-20s %10.1f %10.1f %7.2f %11.2f  %s\n", row.name, own->second.ns,
                    base->second.ns, ratio, own->second.allocs, verdict.c_str());
    }
    std::printf("%s\n", missed ? "some targets were missed" : "all targets met");
    benchmark::Shutdown();
    return 0;
}
