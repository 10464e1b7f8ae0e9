#include "Contact_Tile.h"

namespace {

// One contact; a negative number from the lookup is taken as it comes; a failed lookup keeps
// the numbers of the previous binding, and a binding releases one only when a name was set.
const vorn_binding::Rule bindingRule{1, true, true, false};

} // namespace

Contact_Tile::Contact_Tile(HostClient* hostClient, const char* path)
    : vorn_component(hostClient, path), instance(""), buttonText(""), stateSheet(""), onState(""),
      offState(""), device(0), contact(0), gpiState(-1), useButton(true), useText(false),
      sendGPI(true), binding(*this, instance, device, contact, bindingRule) {}

vorn_string Contact_Tile::onParentCommand(const ParentCommand& command) {
    using T = Contact_Tile;
    using V = const vorn_value&;
    // return=all lists every setting; return=NAME and _commands only the first four; and
    // return=buttonText answers the instance's name while the label is not the button text.
    // The instance is named, never shown.
    static constexpr vorn_word events[] = {"GPIvalue"};
    static constexpr auto words = vorn_words(
        events,
        vorn_setting(
            "useButton", vorn_kind::truth, vorn_shown_everywhere,
            [](T& t, V v) {
                t.useButton = v.truth;
                if (v.truth)
                    t.put("style=button");
                else
                    t.put("style=label");
            },
            [](const T& t) -> vorn_text { return vorn_truth_text(t.useButton); }),
        vorn_setting(
            "sendGPI", vorn_kind::truth, vorn_shown_everywhere,
            [](T& t, V v) { t.sendGPI = v.truth; },
            [](const T& t) -> vorn_text { return vorn_truth_text(t.sendGPI); }),
        vorn_setting(
            "useText", vorn_kind::truth, vorn_shown_everywhere,
            [](T& t, V v) {
                t.useText = v.truth;
                t.applyLabel();
            },
            [](const T& t) -> vorn_text { return vorn_truth_text(t.useText); }),
        vorn_setting(
            "buttonText", vorn_kind::text, vorn_shown_everywhere,
            [](T& t, V v) {
                t.buttonText = v.text;
                if (t.useText) t.applyLabel();
            },
            [](const T& t) -> vorn_text { return t.buttonText; },
            [](const T& t) -> vorn_text { return t.useText ? t.buttonText : t.instance; }),
        vorn_setting(
            "stateSheet", vorn_kind::text, vorn_in_all,
            [](T& t, V v) {
                t.stateSheet = v.text;
                t.put("stylesheet", t.stateSheet);
            },
            [](const T& t) -> vorn_text { return t.stateSheet; }),
        vorn_setting(
            "offState", vorn_kind::text, vorn_in_all,
            [](T& t, V v) {
                t.offState = v.text;
                if (t.gpiState == 0) t.putLook(t.offState);
            },
            [](const T& t) -> vorn_text { return t.offState; }),
        vorn_setting(
            "onState", vorn_kind::text, vorn_in_all,
            [](T& t, V v) {
                t.onState = v.text;
                if (t.gpiState == 1) t.putLook(t.onState);
            },
            [](const T& t) -> vorn_text { return t.onState; }),
        vorn_action("instance", vorn_kind::text, [](T& t, V v) {
            if (t.binding.bind(v.text) == vorn_binding::Outcome::bound) t.applyLabel();
        }));
    return words.answer(*this, command);
}

void Contact_Tile::applyLabel() {
    if (useText)
        put("text", buttonText);
    else
        put("text", binding.configuredLabel());
}

void Contact_Tile::putLook(const vorn_string& sheet) {
    put("statesheet", sheet);
}

void Contact_Tile::onPress() {
    if (!binding.bound() || !sendGPI || gpiState == -1) return;
    const std::uint8_t newState = gpiState == 0 ? 1 : 0;
    gpiSwitch(device, newState, contact, true);
}

void Contact_Tile::onDeviceReport(const DeviceReport& report) {
    // Most reports are for other contacts or repeat the known state: decided here, the rest is
    // showState's. By the numbers alone: an unbound tile (0, 0) takes reports for device 0,
    // contact 0.
    if (report.device() != device || report.index() != contact) return;
    const std::int32_t state = report.state();
    if (state == gpiState) return;
    showState(state);
}

void Contact_Tile::showState(std::int32_t state) {
    if (state == 0) {
        putLook(offState);
        gpiState = 0;
    } else {
        putLook(onState);
        gpiState = 1;
    }
    hostNotify(gpiState == 1 ? "GPIvalue=1" : "GPIvalue=0");
}

void Contact_Tile::onPoll() {
    binding.poll();
}
