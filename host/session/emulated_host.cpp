#include "emulated_host.h"

#include "lent_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
const char panelShownReply[] = "OK";
// Reports a single poll may ask for; a wider range is cut here.
constexpr std::int64_t maxPollRange = 1000;
} // namespace

EmulatedHost::EmulatedHost(Facility& shared, const std::int64_t& clock)
    : facility(shared), clock_(clock) {
    DebugTap::instance();
}

EmulatedHost::EmulatedHost(Facility own)
    : facility(ownFacility_), ownFacility_(std::move(own)), clock_(ownClock_) {
    DebugTap::instance();
}

EmulatedHost::~EmulatedHost() {
    destroy();
    facility.forget(this);
    for (const char* reply : outstanding_)
        takeBack(const_cast<char*>(reply));
    for (const char* reply : kept_)
        takeBack(const_cast<char*>(reply));
}

namespace {
// A copy of text on lent pages (lent_memory.h), NUL-terminated.
char* lentCopy(const std::string& text, LentKind kind) {
    char* copy = lendBytes(text.size() + 1, kind);
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
// A record on lent pages, holding value.
template <class Record> Record* lentRecord(const Record& value) {
    auto* record = reinterpret_cast<Record*>(lendBytes(sizeof(Record), LentKind::Record));
    if (!record) throw std::bad_alloc();
    *record = value;
    return record;
}
} // namespace

void EmulatedHost::collectDebug() {
    for (std::string& text : DebugTap::instance().take())
        events.push_back({HostEvent::Debug, std::move(text)});
}

const char* EmulatedHost::send(const char* text, int mode) {
    if (!monitor.mayHandleSend()) return nullptr;
    collectDebug();
    if (mode == VORN_SEND_RELEASE) {
        if (outstanding_.erase(text) == 1) {
            takeBack(const_cast<char*>(text));
        } else if (kept_.erase(text) == 1) { // late, and reported when the call that got it ended
            takeBack(const_cast<char*>(text));
        } else {
            monitor.breach(ContractRule::UnknownReply,
                           "a reply was handed back that the host did not give (or twice)");
        }
        return nullptr;
    }
    if (mode != VORN_SEND_COMMAND) {
        monitor.breach(ContractRule::SendMode, "send with unknown mode " + std::to_string(mode));
        return nullptr;
    }
    if (!text) {
        monitor.breach(ContractRule::NullCommand, "send of a null command text");
        return nullptr;
    }
    events.push_back({HostEvent::Command, text});
    if (ended) monitor.breach(ContractRule::AfterAS, std::string("command after AS: ") + text);

    HostCommand command;
    std::string why;
    if (!parseHostCommand(text, command, why)) {
        monitor.breach(ContractRule::Grammar,
                       std::string("malformed command '") + text + "': " + why);
        return nullptr;
    }
    if (command.word == "SD") {
        lastLookup = command.texts[0];
        std::optional<std::string> reply = facility.lookup(command.texts[0]);
        if (!reply) return nullptr;
        const char* given = lentCopy(*reply, LentKind::Reply);
        outstanding_.insert(given);
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
            timers_[c.numbers[0]] = {c.numbers[1], clock_ + c.numbers[1]};
        else
            timers_.erase(c.numbers[0]);
    } else if (w == "GR") {
        facility.registerRange(this, c.numbers[0], c.numbers[1], c.numbers[2], c.add);
    } else if (w == "GU") {
        facility.unregister(this, c.numbers[0]);
    } else if (w == "GS") {
        facility.setState(c.numbers[0], c.numbers[1], c.numbers[2]);
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
    reportsDelivered = 0;
    {
        ContractMonitor::Call call(monitor);
        component_ = plugin.create(this, path.c_str());
    }
    afterCall();
    return component_ != nullptr;
}

void EmulatedHost::release(std::int64_t k) {
    if (held_.empty() || !component_) return;
    const auto at =
        held_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::uint64_t>(k) % held_.size());
    char* answer = *at;
    held_.erase(at);
    events.push_back({HostEvent::Delivered, "release of a kept answer"});
    dispatch(answer, VORN_MSG_RELEASE);
}

void EmulatedHost::destroy() {
    if (!component_) return;
    // Answers still kept go back first, as a host hands back what it holds before it deletes.
    while (!held_.empty())
        release(0);
    {
        ContractMonitor::Call call(monitor);
        vorn_abi_delete(component_);
    }
    component_ = nullptr;
    afterCall();
    pending_.clear();
    // Its timers and registrations end with it: the next component starts with none.
    timers_.clear();
    facility.forget(this);
    if (!ended) monitor.breach(ContractRule::NoAS, "the component ended without sending AS");
}

char* EmulatedHost::dispatch(void* data, int type) {
    if (!component_) return nullptr;
    char* result;
    {
        ContractMonitor::Call call(monitor);
        result = component_->dispatch(data, type);
    }
    afterCall();
    if (result && type != VORN_MSG_PARENT)
        monitor.breach(ContractRule::DispatchResult,
                       "dispatch returned a pointer for message type " + std::to_string(type) +
                           " (the host never hands it back: a leak per message)");
    return result;
}

void EmulatedHost::afterCall() {
    collectDebug();
    monitor.collectForeignSends();
    for (const char* reply : outstanding_) {
        monitor.breach(ContractRule::ReplyKept,
                       "a reply was still held when the call that got it returned");
        kept_.insert(reply);
    }
    outstanding_.clear();
}

void EmulatedHost::contactChanged(std::int32_t device, std::int32_t contact, std::int32_t state) {
    pending_.push_back({device, contact, state});
}

int EmulatedHost::deliverPending(int budget) {
    int delivered = 0;
    for (; delivered < budget && !pending_.empty() && component_; ++delivered) {
        const Delivery d = pending_.front();
        pending_.pop_front();
        events.push_back({HostEvent::Delivered, "report " + std::to_string(d.device) + " " +
                                                    std::to_string(d.contact) + " " +
                                                    std::to_string(d.state)});
        const HostDeviceRecord lent{d.device, 0, d.contact, d.state};
        HostDeviceRecord* record = lentRecord(lent);
        ++reportsDelivered;
        dispatch(record, VORN_MSG_DEVICE_REPORT);
        if (std::memcmp(record, &lent, sizeof lent) != 0)
            monitor.breach(ContractRule::ChangedBorrowed,
                           "the component wrote into the device record");
        takeBack(reinterpret_cast<char*>(record));
    }
    return delivered;
}

void EmulatedHost::parentCommand(const std::string* text, bool hold) {
    if (!component_) return;
    // The component gets its own copy, lent for the call, which must be unchanged afterwards.
    char* copy = text ? lentCopy(*text, LentKind::Text) : nullptr;
    char* result = dispatch(copy, VORN_MSG_PARENT);
    if (copy && *text != copy)
        monitor.breach(ContractRule::ChangedBorrowed,
                       "the component changed the parent-command text");
    if (copy) takeBack(copy);
    // Shown after what handing it back made the component do, as the host saw it.
    HostEvent answer(HostEvent::Answer, result ? result : "");
    answer.hasReply = result != nullptr;
    if (result) {
        if (!*result)
            monitor.breach(ContractRule::EmptyAnswer, "an empty answer buffer instead of none");
        if (std::find(held_.begin(), held_.end(), result) != held_.end())
            monitor.breach(ContractRule::AnswerReused,
                           "an answer buffer was given out again before it came back");
        else if (hold)
            held_.push_back(result);
        else
            dispatch(result, VORN_MSG_RELEASE); // a reused one is handed back once, as held
    }
    events.push_back(std::move(answer));
}

void EmulatedHost::press(const std::string& panel, const std::string& control) {
    events.push_back({HostEvent::Delivered, "press '" + panel + "' '" + control + "'"});
    // Lent for the call: the record and its texts, copies of the host's, compared afterwards.
    char* panelText = lentCopy(panel, LentKind::Text);
    char* controlText = lentCopy(control, LentKind::Text);
    const HostButtonRecord lent{0, 0, panelText, controlText};
    HostButtonRecord* record = lentRecord(lent);
    dispatch(record, VORN_MSG_BUTTON);
    if (std::memcmp(record, &lent, sizeof lent) != 0 || panel != panelText ||
        control != controlText)
        monitor.breach(ContractRule::ChangedBorrowed, "the component wrote into the button record");
    takeBack(reinterpret_cast<char*>(record));
    takeBack(panelText);
    takeBack(controlText);
}

void EmulatedHost::report(std::int32_t device, std::int32_t contact, std::int32_t state) {
    pending_.push_back({device, contact, state});
}

void EmulatedHost::tick(std::int32_t timer) {
    events.push_back({HostEvent::Delivered, "tick " + std::to_string(timer)});
    dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(timer)), VORN_MSG_TIMER);
}

void EmulatedHost::message(int type) {
    // Types 6 and 7 carry host data the component does not read; give it a zeroed block.
    static std::int32_t opaque[16] = {};
    events.push_back({HostEvent::Delivered, "message type " + std::to_string(type)});
    dispatch(type == VORN_MSG_RELEASE ? nullptr : opaque, type);
}

const std::string* EmulatedHost::property(const std::string& name) const {
    auto panel = panels.find(lastPanel);
    if (panel == panels.end()) return nullptr;
    auto control = panel->second.find(lastControl);
    if (control == panel->second.end()) return nullptr;
    auto found = control->second.find(name);
    return found == control->second.end() ? nullptr : &found->second;
}
