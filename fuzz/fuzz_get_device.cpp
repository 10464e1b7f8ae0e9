// The "SD" lookup on any reply: the numbers are read without undefined behaviour and the reply
// is handed back exactly once.
#include "open_frame.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class ReplyHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(ReplyHost)
public:
    virtual ~ReplyHost() {}
    const char* send(const char* text, int mode) override {
        if (mode == VORN_SEND_RELEASE) {
            if (text != reply.c_str() || handedBack) std::abort();
            handedBack = true;
            return nullptr;
        }
        return std::string(text).rfind("SD '", 0) == 0 ? reply.c_str() : nullptr;
    }
    std::string reply;
    bool handedBack = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReplyHost host;
    host.reply.assign(reinterpret_cast<const char*>(data), size);
    host.reply = host.reply.c_str(); // up to the first NUL, as the host's text would be
    {
        OpenFrame frame(&host, "");
        std::int32_t device = -1, contact = -1;
        if (!frame.getDevice("A", &device, &contact)) std::abort();
        if (!host.handedBack) std::abort();
        host.handedBack = false;
        if (!frame.getDevice("A", nullptr, nullptr) || !host.handedBack) std::abort();
        host.reply.clear();
    }
    return 0;
}
