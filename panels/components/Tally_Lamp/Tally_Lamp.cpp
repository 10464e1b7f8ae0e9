#include "Tally_Lamp.h"

namespace {

// Two contacts, both positive; a failed lookup leaves the lamp unbound.
const vorn_binding::Rule bindingRule{2, false, false, true};

} // namespace

Tally_Lamp::Tally_Lamp(HostClient* hostClient, const char* path)
    : vorn_component(hostClient, path), instance(""), device(0), contact(0), program(-1),
      preview(-1), tally(Tally::unknown), programLook("background: red"),
      previewLook("background: green"), idleLook("background: #404040"),
      binding(*this, instance, device, contact, bindingRule) {}

vorn_string Tally_Lamp::onParentCommand(const ParentCommand& command) {
    using T = Tally_Lamp;
    using V = const vorn_value&;
    static constexpr vorn_word events[] = {"TALLY"};
    static constexpr auto words =
        vorn_words(events,
                   vorn_setting(
                       "programLook", vorn_kind::text, vorn_shown_everywhere,
                       [](T& t, V v) { t.setLook(Tally::program, t.programLook, v.text); },
                       [](const T& t) -> vorn_text { return t.programLook; }),
                   vorn_setting(
                       "previewLook", vorn_kind::text, vorn_shown_everywhere,
                       [](T& t, V v) { t.setLook(Tally::preview, t.previewLook, v.text); },
                       [](const T& t) -> vorn_text { return t.previewLook; }),
                   vorn_setting(
                       "idleLook", vorn_kind::text, vorn_shown_everywhere,
                       [](T& t, V v) { t.setLook(Tally::idle, t.idleLook, v.text); },
                       [](const T& t) -> vorn_text { return t.idleLook; }),
                   vorn_reading("tally", vorn_in_all | vorn_in_return,
                                [](const T& t) -> vorn_text { return tallyName(t.tally); }),
                   vorn_action("instance", vorn_kind::text, [](T& t, V v) { t.bindTo(v.text); }));
    return words.answer(*this, command);
}

const char* Tally_Lamp::tallyName(Tally tally) {
    switch (tally) {
    case Tally::program:
        return "program";
    case Tally::preview:
        return "preview";
    case Tally::idle:
        return "idle";
    case Tally::unknown:
        break;
    }
    return "unknown";
}

const vorn_string& Tally_Lamp::look(Tally which) const {
    return which == Tally::program ? programLook : which == Tally::preview ? previewLook : idleLook;
}

void Tally_Lamp::setLook(Tally which, vorn_string& target, const vorn_string& value) {
    target = value;
    if (tally == which) put("statesheet", target);
}

void Tally_Lamp::bindTo(const vorn_string& name) {
    switch (binding.bind(name)) {
    case vorn_binding::Outcome::unchanged:
        return;
    case vorn_binding::Outcome::notFound:
        // The binding has set both numbers to 0.
        program = preview = -1;
        tally = Tally::unknown;
        return;
    case vorn_binding::Outcome::bound: {
        // The new contacts' states are not known yet; the tally shown stays until a report
        // changes it.
        program = preview = -1;
        const vorn_string label = binding.configuredLabel();
        put("text", label.length() > 0 ? label : instance);
        return;
    }
    }
}

void Tally_Lamp::onDeviceReport(const DeviceReport& report) {
    if (!binding.bound()) return;
    const std::optional<std::int32_t> which = binding.contactOf(report);
    const std::int32_t state = report.state();
    if (!which || (state != 0 && state != 1)) return;
    (*which == 0 ? program : preview) = state;
    // A report has made at least one state known: the tally is no longer unknown.
    const Tally now = program == 1 ? Tally::program : preview == 1 ? Tally::preview : Tally::idle;
    if (now == tally) return;
    tally = now;
    put("statesheet", look(tally));
    hostNotify(vorn_command_text("TALLY=", tallyName(tally)).c_str());
}

void Tally_Lamp::onPoll() {
    binding.poll();
}
