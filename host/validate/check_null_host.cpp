#include "checks.h"

#include "crash_report.h"
#include "lives.h"
#include "sandbox.h"

#include <cstring>

// A whole life with no host client at all: the component must neither crash nor send.
CheckFinding nullHostLife(const CheckContext& context) {
    Randomness rnd(context.seed, learnWords(*context.plugin));
    vorn_client_callback* component = context.plugin->create(nullptr, "panels");
    if (!component) return std::string("no component");
    for (int i = 0; i < 200; ++i) {
        sandboxProgress();
        crashReportSet(("round " + std::to_string(i + 1) +
                        " of 200 (a parent command, its answer handed back, a report, a press, a "
                        "tick)")
                           .c_str());
        std::string text = rnd.parentText({"A", ""});
        char* answer = component->dispatch(i % 50 ? text.data() : nullptr, VORN_MSG_PARENT);
        if (answer && std::strlen(answer) == 0) return std::string("an empty answer buffer");
        component->dispatch(answer, VORN_MSG_RELEASE);
        HostDeviceRecord report{rnd.number(), 0, rnd.number(), rnd.number()};
        component->dispatch(&report, VORN_MSG_DEVICE_REPORT);
        const std::string control = rnd.text();
        HostButtonRecord press{0, 0, "1", control.c_str()};
        component->dispatch(&press, VORN_MSG_BUTTON);
        component->dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(rnd.number())),
                            VORN_MSG_TIMER);
    }
    crashReportSet("messages of types 0, 5 to 8 and -1");
    std::int32_t opaque[16] = {};
    for (int type : {0, 5, 6, 7, 8, -1})
        component->dispatch(type == 5 ? nullptr : opaque, type);
    crashReportSet("its deletion");
    vorn_abi_delete(component);
    crashReportClear();
    return {};
}
