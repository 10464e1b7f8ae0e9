#include "facility.h"

#include "host_command.h"
#include "vorn_ini.h"

#include <algorithm>

namespace {
const std::string instancePrefix = "instances.";
const std::string devicePrefix = "devices.";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
} // namespace

bool Facility::load(const std::string& path, std::vector<ConfigProblem>& problems) {
    vorn_ini ini;
    if (!ini.load(path)) {
        problems.push_back({0, "cannot read the file"});
        return false;
    }
    for (const auto& p : ini.problems())
        problems.push_back({p.line, p.message});
    for (const auto& entry : ini.entries()) {
        const std::string& section = entry.first;
        const vorn_ini::Entry& attributes = entry.second;
        auto at = [&](const std::string& key, const std::string& what) {
            return ConfigProblem{ini.lineOf(section, key),
                                 "[" + section + "] " + key + ": " + what};
        };
        if (startsWith(section, instancePrefix)) {
            FacilityInstance instance;
            for (const auto& [key, value] : attributes) {
                if (key == "device" || key == "contact") {
                    std::int32_t number = 0;
                    if (!parseInt32(value, number))
                        problems.push_back(at(key, "expected a number, not '" + value + "'"));
                    (key == "device" ? instance.device : instance.contact) = number;
                } else if (key == "idtext") {
                    instance.idtext = value;
                } else if (key == "reply") {
                    instance.reply = value;
                }
                // Other attributes belong to the platform's configuration; they are harmless here.
            }
            instances[section.substr(instancePrefix.size())] = instance;
        } else if (startsWith(section, devicePrefix)) {
            std::int32_t device = 0;
            if (!parseInt32(section.substr(devicePrefix.size()), device)) {
                problems.push_back(
                    {ini.lineOf(section), "[" + section + "]: expected [devices.NUMBER]"});
                continue;
            }
            for (const auto& [key, value] : attributes) {
                std::int32_t contact = 0, state = 0;
                if (!parseInt32(key, contact) || !parseInt32(value, state)) {
                    problems.push_back(at(key, "expected 'CONTACT = STATE' with numbers, not '" +
                                                   key + " = " + value + "'"));
                    continue;
                }
                states_[{device, contact}] = state;
            }
        }
    }
    // In the order of the file's lines.
    std::stable_sort(
        problems.begin(), problems.end(),
        [](const ConfigProblem& a, const ConfigProblem& b) { return a.line < b.line; });
    return problems.empty();
}

void Facility::takeConfiguration(const Facility& configuration) {
    instances = configuration.instances;
    for (const auto& [contact, state] : configuration.states_)
        states_[contact] = state;
}

std::optional<std::string> Facility::lookup(const std::string& name) const {
    auto found = instances.find(name);
    if (found == instances.end()) return std::nullopt;
    if (found->second.reply) return found->second.reply;
    return std::to_string(found->second.device) + " " + std::to_string(found->second.contact);
}

std::int32_t Facility::state(std::int32_t device, std::int32_t contact) const {
    auto found = states_.find({device, contact});
    return found == states_.end() ? 0 : found->second;
}

void Facility::setState(std::int32_t device, std::int32_t contact, std::int32_t state) {
    states_[{device, contact}] = state;
    // A listener only queues what it is told; nothing calls into a component from here.
    for (const auto& registration : registrations_)
        if (isRegistered(registration.first, device, contact))
            registration.first->contactChanged(device, contact, state);
}

void Facility::registerRange(ContactListener* listener, std::int32_t device, std::int32_t first,
                             std::int32_t last, bool add) {
    auto found = std::find_if(registrations_.begin(), registrations_.end(),
                              [&](const auto& r) { return r.first == listener; });
    if (found == registrations_.end())
        found = registrations_.insert(registrations_.end(), {listener, Ranges()});
    auto& ranges = found->second[device];
    if (!add) ranges.clear();
    ranges.emplace_back(first, last);
}

void Facility::unregister(ContactListener* listener, std::int32_t device) {
    for (auto& [who, ranges] : registrations_)
        if (who == listener) ranges.erase(device);
}

void Facility::forget(ContactListener* listener) {
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [&](const auto& r) { return r.first == listener; }),
                         registrations_.end());
}

const Facility::Ranges* Facility::rangesOf(const ContactListener* listener) const {
    for (const auto& [who, ranges] : registrations_)
        if (who == listener) return &ranges;
    return nullptr;
}

bool Facility::hasRegistrations(const ContactListener* listener) const {
    const Ranges* ranges = rangesOf(listener);
    if (!ranges) return false;
    for (const auto& [device, list] : *ranges)
        if (!list.empty()) return true;
    return false;
}

bool Facility::isRegistered(const ContactListener* listener, std::int32_t device,
                            std::int32_t contact) const {
    const Ranges* ranges = rangesOf(listener);
    if (!ranges) return false;
    auto found = ranges->find(device);
    if (found == ranges->end()) return false;
    for (const auto& [first, last] : found->second)
        if (contact >= first && contact <= last) return true;
    return false;
}

std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t>>
Facility::registrations(const ContactListener* listener) const {
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t>> out;
    if (const Ranges* ranges = rangesOf(listener))
        for (const auto& [device, list] : *ranges)
            for (const auto& [first, last] : list)
                out.emplace_back(device, first, last);
    return out;
}

std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> Facility::contacts() const {
    auto all = states_;
    for (const auto& [name, instance] : instances)
        if (!instance.reply) all.emplace(std::make_pair(instance.device, instance.contact), 0);
    return all;
}
