// A simulated facility of GPI devices, and the instances that name its contacts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

struct FacilityInstance {
    std::int32_t device = 0;
    std::int32_t contact = 0;
    std::string idtext;
    std::optional<std::string> reply; // the raw reply to "SD", when it is not "device contact"
};

// A component's host client, as the facility knows it: told of every change to a contact it
// registered for.
class ContactListener {
public:
    virtual void contactChanged(std::int32_t device, std::int32_t contact, std::int32_t state) = 0;

protected:
    ~ContactListener() = default;
};

// A problem of a configuration file: its line (0: the file as a whole) and what is wrong there.
struct ConfigProblem {
    int line = 0;
    std::string text;
    // "line N: what", or "what" for the file as a whole.
    std::string lineText() const {
        return line > 0 ? "line " + std::to_string(line) + ": " + text : text;
    }
};

// Shared by every component of a session: a contact switched through one reports to each
// component registered for it, in the order they registered.
class Facility {
public:
    // Reads the instances and the initial contact states from the configuration file; its
    // problems in the order of its lines. Returns false when the file cannot be read or has
    // problems.
    bool load(const std::string& path, std::vector<ConfigProblem>& problems);

    // A new configuration for a running facility: its instances replace these, its contact
    // states are set; registrations stay.
    void takeConfiguration(const Facility& configuration);

    // The reply to "SD 'name'", or nothing for an unknown name.
    std::optional<std::string> lookup(const std::string& name) const;

    std::int32_t state(std::int32_t device, std::int32_t contact) const;
    // Sets a contact; each listener registered for it is told.
    void setState(std::int32_t device, std::int32_t contact, std::int32_t state);

    // A listener's registrations: GR without 'ADD' replaces its ranges of the device, with
    // 'ADD' adds one; GU drops them all; forget() drops all of the listener's.
    void registerRange(ContactListener* listener, std::int32_t device, std::int32_t first,
                       std::int32_t last, bool add);
    void unregister(ContactListener* listener, std::int32_t device);
    void forget(ContactListener* listener);
    bool isRegistered(const ContactListener* listener, std::int32_t device,
                      std::int32_t contact) const;
    bool hasRegistrations(const ContactListener* listener) const;
    // What a listener registered: device, first contact, last contact.
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t>>
    registrations(const ContactListener* listener) const;
    // Every contact that has a state, and every contact an instance names.
    std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> contacts() const;

    std::map<std::string, FacilityInstance> instances;

private:
    using Ranges = std::map<std::int32_t, std::vector<std::pair<std::int32_t, std::int32_t>>>;
    const Ranges* rangesOf(const ContactListener* listener) const;
    std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> states_;
    // In the order the listeners first registered.
    std::vector<std::pair<ContactListener*, Ranges>> registrations_;
};
