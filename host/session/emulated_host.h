// The host as one component sees it: answers its commands from a simulated facility, keeps a
// model of the panel, keeps the component's timers on a simulated clock, and records everything
// in order. A session (session.h) has one for each component, on one facility and one clock,
// and delivers what each has pending.
#pragma once

#include "contract_monitor.h"
#include "facility.h"
#include "host_command.h"
#include "plugin.h"
#include "vorn_host_contract.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct HostEvent {
    enum Kind {
        Command,   // a command the component sent ("text"; "reply" holds the reply, if any)
        Debug,     // a debug text of the component
        Answer,    // the answer to a parent command ("text"; "none" when there was none)
        Delivered, // something the host delivered to the component (transcript only)
    };
    HostEvent(Kind k, std::string t) : kind(k), text(std::move(t)) {}
    Kind kind;
    std::string text;
    bool hasReply = false;
    std::string reply;
};

class EmulatedHost : public HostClient, private ContactListener {
    VORN_HOST_DESTRUCTOR_BRIDGE(EmulatedHost)

public:
    // A host on a shared facility and clock, which outlive it.
    EmulatedHost(Facility& facility, const std::int64_t& clock);
    // A host with a facility and a clock of its own.
    explicit EmulatedHost(Facility facility = Facility());
    EmulatedHost(const EmulatedHost&) = delete;
    EmulatedHost& operator=(const EmulatedHost&) = delete;
    virtual ~EmulatedHost();

    const char* send(const char* text, int mode) override;

    // Creates the component through the plug-in; false when the plug-in returned null.
    bool create(const Plugin& plugin, const std::string& path);
    void destroy();
    bool alive() const { return component_ != nullptr; }

    // Deliveries into the component. What the facility queues in return waits for
    // deliverPending(). A parent command's answer is handed back at once, or, with hold, kept
    // until release() or the component's end. A null text is a parent command with null data.
    void parentCommand(const std::string* text, bool hold = false);
    // Hands back the kept answer k (counting from the oldest, modulo how many are kept);
    // nothing when none is kept.
    void release(std::int64_t k);
    std::size_t keptAnswers() const { return held_.size(); }
    void press(const std::string& panel, const std::string& control);
    void report(std::int32_t device, std::int32_t contact, std::int32_t state);
    void tick(std::int32_t timer);
    void message(int type);
    // Delivers the device reports queued for the component, at most budget of them; returns
    // how many it delivered.
    int deliverPending(int budget);
    bool hasPending() const { return !pending_.empty() && component_; }
    void dropPending() { pending_.clear(); }

    // Flushes pending debug text into the events.
    void collectDebug();
    // One raw message into the component (nothing else delivered); null without a component.
    char* dispatch(void* data, int type);

    std::vector<HostEvent> events;
    Facility& facility;
    // Panel model: panel -> control -> property -> value.
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> panels;
    std::string lastPanel, lastControl;
    std::string lastLookup; // the instance the component last looked up with "SD"
    std::vector<std::string> notifications;
    bool ended = false;
    bool panelChanged = false;
    // Every breach of the host contract this host saw (contract_monitor.h has the rules).
    ContractMonitor monitor;
    int reportsDelivered = 0; // device reports delivered to the component since it was made
    std::size_t outstandingReplies() const { return outstanding_.size(); }
    struct Timer {
        std::int64_t period;
        std::int64_t due; // next tick, on the simulated clock
    };
    // The component's timers, which the session's clock moves.
    std::map<std::int32_t, Timer>& timers() { return timers_; }
    const std::map<std::int32_t, Timer>& timers() const { return timers_; }
    // A property of the control the component last put, or null when it is not set.
    const std::string* property(const std::string& name) const;
    // Whether the component registered for any contact, or for this one.
    bool registered() const { return facility.hasRegistrations(this); }
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t>> registrations() const {
        return facility.registrations(this);
    }
    bool registered(std::int32_t device, std::int32_t contact) const {
        return facility.isRegistered(this, device, contact);
    }

private:
    struct Delivery {
        std::int32_t device, contact, state;
    };
    void contactChanged(std::int32_t device, std::int32_t contact, std::int32_t state) override;
    // After every call into the component: its debug texts, sends from other threads, and
    // the replies it still holds.
    void afterCall();
    void execute(const HostCommand& command);

    Facility ownFacility_;
    std::int64_t ownClock_ = 0;
    const std::int64_t& clock_;
    vorn_client_callback* component_ = nullptr;
    std::deque<Delivery> pending_;
    // Replies lent (lent_memory.h): their pages become unreadable when they come back.
    std::set<const char*> outstanding_;
    // Replies still held when the call that got them returned: reported once, taken back
    // quietly if they come back later.
    std::set<const char*> kept_;
    // Answers the host has not handed back yet (held by a parent command with hold).
    std::vector<char*> held_;
    std::map<std::int32_t, Timer> timers_;
};
