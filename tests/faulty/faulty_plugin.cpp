// Plug-ins for the emulator's own tests, built on the host-facing contract alone:
//   VORN_FAULT_NONE     a correct minimal plug-in: answers "name=value" queries with "ok",
//                       sends "AS" when deleted
//   VORN_FAULT_CRASH    the same, but a component crashes (an access fault) at its 40th
//                       message, or at the parent command "crash"
//   VORN_FAULT_HANG     the same, but the parent command "hang" (or any parent command after
//                       the 40th message) never returns
//   VORN_FAULT_NO_AS    the same, but it never sends "AS"
#include "vorn_host_contract.h"

#include <cstring>
#include <new>

namespace {

class Faulty final : public vorn_client_callback {
    VORN_HOST_DESTRUCTOR_BRIDGE(Faulty)

public:
    explicit Faulty(HostClient* host) : host_(host) {}
    virtual ~Faulty() {
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
#endif
        if (type == VORN_MSG_RELEASE) {
            delete[] static_cast<char*>(data);
            return nullptr;
        }
        if (!text || !std::strchr(text, '=')) return nullptr;
        char* answer = new (std::nothrow) char[3];
        if (answer) std::memcpy(answer, "ok", 3);
        return answer;
    }

private:
    HostClient* host_;
    int messages_ = 0;
};

} // namespace

VORN_EXPORT vorn_client_callback* load_vorn_client_script(HostClient* host, const char*) {
    return new (std::nothrow) Faulty(host);
}
