// Every registered component in turn (a byte of the input picks it), driven by a byte stream
// decoded into messages, among which the configuration file is saved anew (its labels reach
// the component through its configuration). The host checks its side of
// the contract after every step: well-formed commands, replies handed back once and never kept,
// answers fresh and handed back, nothing after "AS", "AS" last.
#include "host_command.h"
#include "vorn_component_table.h"
#include "vorn_host_contract.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class CheckingHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(CheckingHost)
public:
    virtual ~CheckingHost() {}
    const char* send(const char* text, int mode) override {
        if (mode == VORN_SEND_RELEASE) {
            if (outstanding.erase(text) != 1) std::abort(); // not ours, or twice
            delete[] text;
            return nullptr;
        }
        if (mode != VORN_SEND_COMMAND || !text || ended) std::abort();
        HostCommand command;
        std::string why;
        if (!parseHostCommand(text, command, why)) std::abort();
        if (command.word == "AS") ended = true;
        if (command.word == "PS") return "OK";
        if (command.word == "SD" && !lookup.empty()) {
            char* reply = new char[lookup.size() + 1];
            std::memcpy(reply, lookup.c_str(), lookup.size() + 1);
            outstanding.insert(reply);
            return reply;
        }
        return nullptr;
    }
    std::string lookup;
    std::set<const char*> outstanding;
    bool ended = false;
};

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    std::int32_t number() {
        switch (byte() % 4) {
        case 0:
            return static_cast<std::int8_t>(byte());
        case 1:
            return byte() % 4;
        default: {
            std::uint32_t v = 0;
            for (int i = 0; i < 4; ++i)
                v = v << 8 | byte();
            return static_cast<std::int32_t>(v);
        }
        }
    }
    // A text of up to 255 bytes (long: up to 65535), cut at a NUL.
    std::string text(bool long_ = false) {
        std::size_t length = byte();
        if (long_) length = length << 8 | byte();
        std::string t;
        for (std::size_t i = 0; i < length && size > 0; ++i) {
            const char c = static_cast<char>(byte());
            if (c == '\0' && !long_) break;
            t += c;
        }
        return t;
    }
};

// The configuration file the components read, this process's own; saved by the input.
const std::string& configFile() {
    static const std::string file = [] {
        const std::string f = "/tmp/vorn_fuzz_component." + std::to_string(getpid()) + ".ini";
        setenv("VORN_CONFIG", f.c_str(), 1);
        // The components' debug texts are not this program's output.
        setenv("VORN_DEBUG_FD", std::to_string(::open("/dev/null", O_WRONLY)).c_str(), 1);
        return f;
    }();
    return file;
}

// Saved only when it changes: most inputs never save one, and start from the empty file.
void saveConfig(const std::string& contents) {
    static std::string saved = "(none yet)";
    if (contents == saved) return;
    saved = contents;
    if (FILE* f = std::fopen(configFile().c_str(), "wb")) {
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    saveConfig("");
    CheckingHost host;
    host.lookup = in.text();
    const std::string path = in.text();
    HostClient* client = in.byte() % 8 ? &host : nullptr;
    const VornComponent& chosen = vorn_component_table[in.byte() % vorn_component_count];
    vorn_client_callback* component = chosen.create(client, path.c_str());
    if (!component) return 0;
    std::vector<char*> answers;
    while (in.size > 0) {
        const int type = static_cast<int>(in.byte() % 11) - 1;
        switch (type) {
        case 1: {
            HostDeviceRecord record{in.number(), 0, in.number(), in.number()};
            component->dispatch(&record, type);
            break;
        }
        case 2: {
            const std::string panel = in.text(), control = in.text();
            HostButtonRecord record{0, 0, panel.c_str(), control.c_str()};
            component->dispatch(&record, type);
            break;
        }
        case 3: {
            std::string text = in.text();
            const std::string before = text;
            char* answer = component->dispatch(in.byte() % 16 ? text.data() : nullptr, type);
            if (text != before) std::abort();
            if (answer) {
                for (char* held : answers)
                    if (held == answer) std::abort();
                if (std::strlen(answer) == 0) std::abort();
                answers.push_back(answer);
            }
            break;
        }
        case 4:
            component->dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(in.number())),
                                type);
            break;
        case 5:
            if (!answers.empty()) {
                component->dispatch(answers.back(), type);
                answers.pop_back();
            } else {
                component->dispatch(nullptr, type);
            }
            break;
        case 6:
        case 7: {
            std::int32_t opaque[8] = {};
            component->dispatch(opaque, type);
            break;
        }
        case 9: // not a message: the configuration is saved
            saveConfig(in.text(true));
            break;
        default:
            component->dispatch(reinterpret_cast<void*>(1), type);
            break;
        }
        if (!host.outstanding.empty()) std::abort(); // a reply kept beyond the call
    }
    for (char* answer : answers)
        component->dispatch(answer, 5);
    vorn_abi_delete(component);
    return 0;
}
