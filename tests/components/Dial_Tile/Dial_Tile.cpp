#include "Dial_Tile.h"

vorn_string Dial_Tile::onParentCommand(const ParentCommand& command) {
    using T = Dial_Tile;
    using V = const vorn_value&;
    static constexpr vorn_word events[] = {"DIAL", "TURNED"};
    static constexpr auto words = vorn_words(
        events,
        // First, and only in _commands: return=all must not begin with a line feed.
        vorn_setting(
            "mode", vorn_kind::text, vorn_in_commands, [](T& t, V v) { t.mode = v.text; },
            [](const T& t) -> vorn_text { return t.mode; }),
        vorn_setting(
            "step", vorn_kind::number, vorn_shown_everywhere,
            [](T& t, V v) {
                t.step = v.number;
                t.stepText = vorn_string(v.number);
            },
            [](const T& t) -> vorn_text { return t.stepText; }),
        vorn_setting(
            "armed", vorn_kind::truth, vorn_in_all | vorn_in_return,
            [](T& t, V v) { t.armed = v.truth; },
            [](const T& t) -> vorn_text { return vorn_truth_text(t.armed); },
            [](const T& t) -> vorn_text { return t.armed ? "yes" : "no"; }),
        vorn_setting(
            "note", vorn_kind::text, vorn_shown_nowhere, [](T& t, V v) { t.note = v.text; },
            [](const T& t) -> vorn_text { return t.note; }),
        vorn_setting(
            "label", vorn_kind::text, vorn_in_all,
            [](T& t, V v) {
                t.label = v.text;
                t.put("text", t.label);
            },
            [](const T& t) -> vorn_text { return t.label; }),
        vorn_reading("value", vorn_in_all | vorn_in_return,
                     [](const T& t) -> vorn_text { return t.valueText; }),
        vorn_action("jump", vorn_kind::number, [](T& t, V v) { t.turnTo(v.number); }));
    return words.answer(*this, command);
}

void Dial_Tile::turnTo(std::int32_t to) {
    value = to;
    valueText = vorn_string(value);
    hostNotify(vorn_command_text("DIAL=", valueText).c_str());
}

void Dial_Tile::onPress() {
    // A dial goes round: past the largest number it comes to the smallest.
    if (armed)
        turnTo(static_cast<std::int32_t>(static_cast<std::uint32_t>(value) +
                                         static_cast<std::uint32_t>(step)));
}

void Dial_Tile::onPoll() {
    hostNotify(vorn_command_text("TURNED=", valueText).c_str());
}
