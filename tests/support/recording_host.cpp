#include "recording_host.h"

#include "plugin.h"

#include <cstdint>
#include <cstring>
#include <string>

// Debug texts reach the host through the emulator's tap; whatever an earlier host left there
// is not this one's.
RecordingHost::RecordingHost() {
    DebugTap::instance().take();
}

void RecordingHost::flushDebug() {
    for (const std::string& text : DebugTap::instance().take())
        log.push_back("debug: " + text);
}

const char* RecordingHost::send(const char* text, int mode) {
    flushDebug();
    if (mode == VORN_SEND_RELEASE) {
        if (outstanding_.erase(text) == 1) {
            ++repliesBack;
            delete[] text;
        } else {
            monitor.breach(ContractRule::UnknownReply, "handed back a reply the host did not give");
        }
        return nullptr;
    }
    if (mode != VORN_SEND_COMMAND)
        monitor.breach(ContractRule::SendMode, "unknown send mode " + std::to_string(mode));
    if (!text) {
        monitor.breach(ContractRule::NullCommand, "null command text");
        return nullptr;
    }
    log.emplace_back(text);
    const std::string command(text);
    if (command.rfind("PS ", 0) == 0) return answerPanelShow ? "OK" : nullptr;
    if (command.rfind("SD '", 0) == 0 && command.size() >= 5 && command.back() == '\'') {
        auto found = lookups.find(command.substr(4, command.size() - 5));
        if (found == lookups.end()) return nullptr;
        char* reply = new char[found->second.size() + 1];
        std::memcpy(reply, found->second.c_str(), found->second.size() + 1);
        outstanding_.insert(reply);
        ++repliesOut;
        return reply;
    }
    return nullptr;
}

std::vector<std::string> RecordingHost::take() {
    flushDebug();
    std::vector<std::string> taken;
    taken.swap(log);
    return taken;
}

Component::Component(vorn_load_function make, HostClient* host, const char* path)
    : component_(make(host, path)) {}

Component::~Component() {
    destroy();
}

void Component::destroy() {
    vorn_abi_delete(component_);
    component_ = nullptr;
}

void Component::parentCommand(const char* text) {
    char* answer = component_->dispatch(const_cast<char*>(text), VORN_MSG_PARENT);
    component_->dispatch(answer, VORN_MSG_RELEASE);
}

std::string Component::ask(const char* text) {
    char* answer = component_->dispatch(const_cast<char*>(text), VORN_MSG_PARENT);
    std::string result = answer ? answer : "<null>";
    component_->dispatch(answer, VORN_MSG_RELEASE);
    return result;
}

void Component::report(int device, int contact, int state) {
    HostDeviceRecord record{device, 0, contact, state};
    component_->dispatch(&record, VORN_MSG_DEVICE_REPORT);
}

void Component::press(const char* panel, const char* control) {
    HostButtonRecord record{0, 0, panel, control};
    component_->dispatch(&record, VORN_MSG_BUTTON);
}

void Component::tick(int timer) {
    component_->dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(timer)),
                         VORN_MSG_TIMER);
}
