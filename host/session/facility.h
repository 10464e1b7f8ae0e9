// A simulated facility of GPI devices, and the instances that name its contacts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct FacilityInstance {
    std::int32_t device = 0;
    std::int32_t contact = 0;
    std::string idtext;
    std::optional<std::string> reply; // the raw reply to "SD", when it is not "device contact"
};

class Facility {
public:
    // Reads the instances and the initial contact states from the configuration file; each
    // problem is "line N: what". Returns false when the file cannot be read or has problems.
    bool load(const std::string& path, std::vector<std::string>& problems);

    // A new configuration for a running facility: its instances replace these, its contact
    // states are set; registrations stay.
    void takeConfiguration(const Facility& configuration);

    // The reply to "SD 'name'", or nothing for an unknown name.
    std::optional<std::string> lookup(const std::string& name) const;

    std::int32_t state(std::int32_t device, std::int32_t contact) const;
    void setState(std::int32_t device, std::int32_t contact, std::int32_t state);

    // GR without 'ADD' replaces the device's ranges, with 'ADD' adds one; GU drops them all.
    void registerRange(std::int32_t device, std::int32_t first, std::int32_t last, bool add);
    void unregister(std::int32_t device);
    bool isRegistered(std::int32_t device, std::int32_t contact) const;
    bool hasRegistrations() const { return !ranges_.empty(); }
    void clearRegistrations() { ranges_.clear(); }

    std::map<std::string, FacilityInstance> instances;

private:
    std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> states_;
    std::map<std::int32_t, std::vector<std::pair<std::int32_t, std::int32_t>>> ranges_;
};
