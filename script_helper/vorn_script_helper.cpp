#include "vorn_script_helper.h"

#include "vorn_command_text.h"
#include "vorn_debug.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <exception>
#include <new>

// The frame's signature record, for tools that look at the binary; no code reads it.
extern "C" {
#if defined(__GNUC__)
__attribute__((used))
#endif
const char vorn_script_helper_signature[] =
    "VORN_SIG,name=vorn_script_helper,type=LIB,version=4.8.6.0,"
    "date=16/06/2017,author=Contact Tile developers";
}

namespace {

// Room for the longest numeric command: a word, four 32-bit numbers of up to 11 characters
// after a space each, and " 'ADD'", with its NUL.
constexpr std::size_t numericBufferSize =
    sizeof "XX -2147483648 -2147483648 -2147483648 -2147483648 'ADD'";

} // namespace

std::int32_t vorn_to_int(const char* text) {
    if (!text) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    // Accumulate as a negative number so that INT_MIN needs no special case.
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 - (*text - '0');
        if (value < static_cast<long long>(INT_MIN)) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    if (negative) return static_cast<std::int32_t>(value);
    return value < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<std::int32_t>(-value);
}

vorn_script_helper::vorn_script_helper(HostClient* hostClient, const char* path)
    : host(hostClient), hostPath(path), exceptionsAtStart_(std::uncaught_exceptions()) {}

vorn_script_helper::~vorn_script_helper() {
    // A component whose creation failed half-way never reached the host: it says nothing.
    const bool creationFailed =
        neverStarted_ || (!created_ && std::uncaught_exceptions() > exceptionsAtStart_);
    if (!creationFailed) teardown();
}

char* vorn_script_helper::dispatch(void* data, int type) {
    // Device reports are the host's most frequent message and most of them are for other
    // contacts: they take the shortest way. Nothing may escape into the host: a failure inside
    // a handler ends the message, not the host.
    if (type == VORN_MSG_DEVICE_REPORT) {
        try {
            onDeviceReport(DeviceReport(static_cast<const HostDeviceRecord*>(data)));
        } catch (...) {
        }
        return nullptr;
    }
    return dispatchOther(data, type);
}

char* vorn_script_helper::dispatchOther(void* data, int type) {
    try {
        switch (type) {
        case VORN_MSG_BUTTON: {
            onButton(ButtonEvent(static_cast<const HostButtonRecord*>(data)));
            return nullptr;
        }
        case VORN_MSG_PARENT: {
            ParsedCommand parsed(static_cast<const char*>(data));
            vorn_string answer = onParentCommand(ParentCommand(&parsed));
            const unsigned size = answer.length();
            if (size == 0) return nullptr;
            char* result = new (std::nothrow) char[size + 1];
            if (result) vorn_copy_chars(result, answer, size + 1);
            return result;
        }
        case VORN_MSG_TIMER:
            onTimer(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(data)));
            return nullptr;
        case VORN_MSG_RELEASE:
            delete[] static_cast<char*>(data);
            return nullptr;
        case VORN_MSG_6: {
            onMessage6(MessageRef(data));
            return nullptr;
        }
        case VORN_MSG_7: {
            onMessage7(MessageRef(data));
            return nullptr;
        }
        default:
            return nullptr;
        }
    } catch (...) {
        return nullptr;
    }
}

const char* vorn_script_helper::sendText(const char* text) {
    return host ? host->send(text, VORN_SEND_COMMAND) : nullptr;
}

void vorn_script_helper::sendNumeric(const char (&word)[3],
                                     std::initializer_list<std::int32_t> numbers, bool add) {
    if (!host || numbers.size() > 4) return; // more would not fit: no command has more
    char text[numericBufferSize];
    char* const end = text + sizeof text;
    text[0] = word[0];
    text[1] = word[1];
    char* out = text + 2;
    for (const std::int32_t number : numbers) {
        *out++ = ' ';
        out = std::to_chars(out, end, number).ptr;
    }
    if (add) {
        std::memcpy(out, " 'ADD'", 6);
        out += 6;
    }
    *out = '\0';
    host->send(text, VORN_SEND_COMMAND);
}

bool vorn_script_helper::panelShow(const vorn_string& panel, const vorn_string& file,
                                   const vorn_string& params) {
    return panelShow(panelShowText(panel, file, params));
}

vorn_command_text vorn_script_helper::panelShowText(Text panel, Text file, Text params) const {
    // The "/" is added whenever there is a path, whatever the path ends with.
    const bool withParams = params.size > 0;
    return vorn_command_text("PS '", panel, "' '", hostPath, hostPath.length() > 0 ? "/" : "", file,
                             "'", withParams ? " '" : "", params, withParams ? "'" : "");
}

bool vorn_script_helper::panelShow(const vorn_command_text& text) {
    if (!host) return true;
    return sendText(text.c_str()) != nullptr;
}

void vorn_script_helper::textPut(Text property, Text value, Text panel, Text control) {
    if (!host) return;
    vorn_command_text text("TP '", property, "=", value, "' '", panel, "' '", control, "'");
    sendText(text.c_str());
}

void vorn_script_helper::textPut(Text setting, Text panel, Text control) {
    if (!host) return;
    vorn_command_text text("TP '", setting, "' '", panel, "' '", control, "'");
    sendText(text.c_str());
}

void vorn_script_helper::hostNotify(Text message) {
    if (!host) return;
    vorn_command_text text("HN '", message, "'");
    sendText(text.c_str());
}

void vorn_script_helper::timerStart(std::int32_t id, std::int32_t periodMs) {
    if (periodMs == 0)
        timerStop(id);
    else
        sendNumeric("ET", {id, periodMs});
}

void vorn_script_helper::timerStop(std::int32_t id) {
    sendNumeric("ET", {id});
}

void vorn_script_helper::gpiRegister(std::int32_t device, std::int32_t first, std::int32_t last,
                                     bool add) {
    sendNumeric("GR", {device, first, last}, add);
}

void vorn_script_helper::gpiUnregister(std::int32_t device) {
    sendNumeric("GU", {device});
}

void vorn_script_helper::gpiSwitch(std::int32_t device, std::uint8_t state, std::int32_t contact,
                                   bool flag) {
    sendNumeric("GS", {device, contact, state, flag ? 1 : 0});
}

void vorn_script_helper::gpiPoll(std::int32_t device, std::int32_t first, std::int32_t last) {
    sendNumeric("GP", {device, first, last});
}

bool vorn_script_helper::getDevice(Text name, std::int32_t* device, std::int32_t* contact) {
    if (device) *device = 0;
    if (contact) *contact = 0;
    if (!host) return false;
    vorn_command_text text("SD '", name, "'");
    const char* reply = sendText(text.c_str());
    if (!reply) return false;
    // The reply goes back to the host however the decoding ends.
    struct HandBack {
        HostClient* host;
        const char* reply;
        ~HandBack() { host->send(reply, VORN_SEND_RELEASE); }
    } handBack{host, reply};
    decodeVORNString tokens(reply, '\'');
    if (device) *device = vorn_to_int(tokens.tokens[0]);
    if (contact) *contact = vorn_to_int(tokens.tokens[1]);
    return true;
}

void vorn_script_helper::teardown() {
    sendText("AS");
}

void vorn_script_helper::debug(const char* text) {
    vorn_debug_output(text);
}
