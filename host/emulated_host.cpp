#include "emulated_host.h"

#include <cstring>

namespace {
const char panelShownReply[] = "OK";
// Reports a single poll may ask for; a wider range is cut here.
constexpr std::int64_t maxPollRange = 1000;
} // namespace

EmulatedHost::EmulatedHost(Facility f) : facility(std::move(f)) {
    DebugTap::instance();
}

EmulatedHost::~EmulatedHost() {
    destroy();
}

void EmulatedHost::collectDebug() {
    for (std::string& text : DebugTap::instance().take())
        events.push_back({HostEvent::Debug, std::move(text)});
}

const char* EmulatedHost::send(const char* text, int mode) {
    collectDebug();
    if (mode == VORN_SEND_RELEASE) {
        auto found = outstanding_.find(text);
        if (found == outstanding_.end()) {
            violations.push_back("a reply was handed back that the host did not give (or twice)");
        } else {
            outstanding_.erase(found);
            ++repliesBack;
        }
        return nullptr;
    }
    if (mode != VORN_SEND_COMMAND) {
        violations.push_back("send with unknown mode " + std::to_string(mode));
        return nullptr;
    }
    if (!text) {
        violations.push_back("send of a null command text");
        return nullptr;
    }
    events.push_back({HostEvent::Command, text});
    if (ended) violations.push_back(std::string("command after AS: ") + text);

    HostCommand command;
    std::string why;
    if (!parseHostCommand(text, command, why)) {
        violations.push_back(std::string("malformed command '") + text + "': " + why);
        return nullptr;
    }
    if (command.word == "SD") {
        std::optional<std::string> reply = facility.lookup(command.texts[0]);
        if (!reply) return nullptr;
        auto buffer = std::make_unique<char[]>(reply->size() + 1);
        std::memcpy(buffer.get(), reply->c_str(), reply->size() + 1);
        const char* given = buffer.get();
        outstanding_.emplace(given, std::move(buffer));
        ++repliesOut;
        events.back().hasReply = true;
        events.back().reply = *reply;
        return given;
    }
    execute(command);
    if (command.word == "PS") return panelShownReply;
    return nullptr;
}

void EmulatedHost::execute(const HostCommand& c) {
    const std::string& w = c.word;
    if (w == "AS") {
        ended = true;
    } else if (w == "PS") {
        lastPanel = c.texts[0];
        panels[c.texts[0]];
        panelChanged = true;
    } else if (w == "TP") {
        const std::string& setting = c.texts[0];
        const std::size_t eq = setting.find('=');
        const std::string property = setting.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : setting.substr(eq + 1);
        panels[c.texts[1]][c.texts[2]][property] = value;
        lastPanel = c.texts[1];
        lastControl = c.texts[2];
        panelChanged = true;
    } else if (w == "HN") {
        notifications.push_back(c.texts[0]);
        panelChanged = true;
    } else if (w == "ET") {
        if (c.numbers.size() == 2 && c.numbers[1] > 0)
            timers_[c.numbers[0]] = {c.numbers[1], now_ + c.numbers[1]};
        else
            timers_.erase(c.numbers[0]);
    } else if (w == "GR") {
        facility.registerRange(c.numbers[0], c.numbers[1], c.numbers[2], c.add);
    } else if (w == "GU") {
        facility.unregister(c.numbers[0]);
    } else if (w == "GS") {
        setContact(c.numbers[0], c.numbers[1], c.numbers[2]);
    } else if (w == "GP") {
        const std::int32_t device = c.numbers[0];
        const std::int64_t first = c.numbers[1], last = c.numbers[2];
        for (std::int64_t k = first; k <= last && k - first < maxPollRange; ++k) {
            const auto contact = static_cast<std::int32_t>(k);
            pending_.push_back({device, contact, facility.state(device, contact)});
        }
    }
}

bool EmulatedHost::create(const Plugin& plugin, const std::string& path) {
    destroy();
    ended = false;
    component_ = plugin.create(this, path.c_str());
    collectDebug();
    deliverPending();
    return component_ != nullptr;
}

void EmulatedHost::destroy() {
    if (!component_) return;
    vorn_abi_delete(component_);
    component_ = nullptr;
    collectDebug();
    pending_.clear();
    if (!ended) violations.push_back("the component ended without sending AS");
}

char* EmulatedHost::dispatch(void* data, int type) {
    if (!component_) return nullptr;
    char* result = component_->dispatch(data, type);
    collectDebug();
    return result;
}

void EmulatedHost::deliverPending() {
    int delivered = 0;
    while (!pending_.empty() && component_) {
        if (++delivered > deliveryLimit) {
            violations.push_back("more than " + std::to_string(deliveryLimit) +
                                 " deliveries in one step; the rest were dropped");
            pending_.clear();
            return;
        }
        const Delivery d = pending_.front();
        pending_.pop_front();
        events.push_back({HostEvent::Delivered, "report " + std::to_string(d.device) + " " +
                                                    std::to_string(d.contact) + " " +
                                                    std::to_string(d.state)});
        HostDeviceRecord record{d.device, 0, d.contact, d.state};
        dispatch(&record, VORN_MSG_DEVICE_REPORT);
    }
}

std::string EmulatedHost::parentCommand(const std::string& text, bool& answered) {
    answered = false;
    std::string answer;
    if (!component_) return answer;
    // The component gets its own copy, which must be unchanged afterwards.
    std::string copy = text;
    char* result = dispatch(copy.data(), VORN_MSG_PARENT);
    if (copy != text) violations.push_back("the component changed the parent-command text");
    if (result) {
        answered = true;
        answer = result;
        if (answer.empty()) violations.push_back("an empty answer buffer instead of none");
        dispatch(result, VORN_MSG_RELEASE);
    }
    events.push_back({HostEvent::Answer, answered ? answer : std::string()});
    events.back().hasReply = answered;
    deliverPending();
    return answer;
}

void EmulatedHost::press(const std::string& panel, const std::string& control) {
    events.push_back({HostEvent::Delivered, "press '" + panel + "' '" + control + "'"});
    HostButtonRecord record{0, 0, panel.c_str(), control.c_str()};
    dispatch(&record, VORN_MSG_BUTTON);
    deliverPending();
}

void EmulatedHost::report(std::int32_t device, std::int32_t contact, std::int32_t state) {
    pending_.push_back({device, contact, state});
    deliverPending();
}

void EmulatedHost::tick(std::int32_t timer) {
    events.push_back({HostEvent::Delivered, "tick " + std::to_string(timer)});
    dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(timer)), VORN_MSG_TIMER);
    deliverPending();
}

void EmulatedHost::message(int type) {
    // Types 6 and 7 carry host data the component does not read; give it a zeroed block.
    static std::int32_t opaque[16] = {};
    events.push_back({HostEvent::Delivered, "message type " + std::to_string(type)});
    dispatch(type == VORN_MSG_RELEASE ? nullptr : opaque, type);
    deliverPending();
}

void EmulatedHost::setContact(std::int32_t device, std::int32_t contact, std::int32_t state) {
    facility.setState(device, contact, state);
    if (facility.isRegistered(device, contact)) pending_.push_back({device, contact, state});
}

void EmulatedHost::switchContact(std::int32_t device, std::int32_t contact, std::int32_t state) {
    setContact(device, contact, state);
    deliverPending();
}

const std::string* EmulatedHost::property(const std::string& name) const {
    auto panel = panels.find(lastPanel);
    if (panel == panels.end()) return nullptr;
    auto control = panel->second.find(lastControl);
    if (control == panel->second.end()) return nullptr;
    auto found = control->second.find(name);
    return found == control->second.end() ? nullptr : &found->second;
}

std::int64_t EmulatedHost::ticksDue(std::int64_t ms) const {
    if (!component_) return 0;
    const std::int64_t until = now_ + ms;
    std::int64_t due = 0;
    for (const auto& [id, timer] : timers_)
        if (timer.due <= until && timer.period > 0) due += (until - timer.due) / timer.period + 1;
    return due;
}

bool EmulatedHost::advance(std::int64_t ms) {
    if (ticksDue(ms) > maxTicksPerStep) return false;
    const std::int64_t until = now_ + ms;
    for (;;) {
        // The earliest due timer, lowest id first on a tie.
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.due <= until &&
                (next == timers_.end() || it->second.due < next->second.due))
                next = it;
        if (next == timers_.end() || !component_) break;
        now_ = next->second.due;
        const std::int32_t id = next->first;
        next->second.due += next->second.period;
        tick(id);
    }
    now_ = until;
    return true;
}
