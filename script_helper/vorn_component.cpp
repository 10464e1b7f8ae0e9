#include "vorn_component.h"

#include "vorn_config.h"

#include <climits>

namespace {

// Looked-up device and contact numbers, the last contact of a range included, are below this.
constexpr std::int32_t numberLimit = 1000;

} // namespace

bool vorn_read_number(const vorn_string& value, std::int32_t* number) {
    const char* c = value;
    const char* digits = c + (*c == '+' || *c == '-');
    if (*digits == '\0') return false;
    long long read = 0;
    for (const char* d = digits; *d != '\0'; ++d) {
        if (*d < '0' || *d > '9') return false;
        read = read * 10 + (*d - '0');
        if (read > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (*c == '-') read = -read;
    if (read > INT_MAX || read < INT_MIN) return false;
    *number = static_cast<std::int32_t>(read);
    return true;
}

vorn_binding::~vorn_binding() {
    if (bound()) frame_.gpiUnregister(device_);
}

vorn_binding::Outcome vorn_binding::bind(const vorn_string& name) {
    if (name == instance_) return Outcome::unchanged;
    frame_.debug(vorn_command_text("Instance change code called - Instance=", name, "\n").c_str());
    if ((!rule_.releaseOnlyNamed || instance_.length() > 0) && bound())
        frame_.gpiUnregister(device_);
    instance_ = name;

    std::int32_t foundDevice = 0;
    std::int32_t foundContact = 0;
    frame_.getDevice(instance_, &foundDevice, &foundContact);
    // The range's last contact is below the limit: its first is below it by the range's size.
    if (!valid(foundDevice, numberLimit) ||
        !valid(foundContact, numberLimit - (rule_.contacts - 1))) {
        frame_.debug("No valid device or contact\n");
        if (rule_.unbindOnFailure) device_ = contact_ = 0;
        return Outcome::notFound;
    }
    device_ = foundDevice;
    contact_ = foundContact;
    frame_.gpiRegister(device_, contact_, last(), false);
    frame_.gpiPoll(device_, contact_, last());
    return Outcome::bound;
}

void vorn_binding::poll() {
    if (bound()) frame_.gpiPoll(device_, contact_, last());
}

vorn_string vorn_binding::configuredLabel() const {
    vorn_config entry(vorn_command_text("instances.", instance_).str());
    return entry.attr("idtext");
}
