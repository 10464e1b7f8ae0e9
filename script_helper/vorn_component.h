// The component writer's kit on top of the frame: a component is its vocabulary (a table), its
// control on the panel, its poll timer, and, when it stands for contacts of a device, a binding.
//
//     class My_Lamp : public vorn_component<My_Lamp> {
//     public:
//         My_Lamp(HostClient* host, const char* path);   // members only: it sends nothing
//         static constexpr vorn_control panelControl{"1", "MyLamp", "myLamp.vorn_ui"};
//         static constexpr vorn_poll_timer pollTimer{1, 5000, vorn_stray_timers::ignore};
//     protected:
//         vorn_string onParentCommand(const ParentCommand& command) override; // the table
//         void onDeviceReport(const DeviceReport& report) override;
//         void onPress() override;   // a press on the component's own control
//         void onPoll() override;    // a tick of its poll timer
//     };
//
//     vorn_string My_Lamp::onParentCommand(const ParentCommand& command) {
//         static constexpr vorn_word events[] = {"LAMP"};            // HN 'LAMP=...'
//         static constexpr auto words = vorn_words(events,
//             vorn_setting("look", vorn_kind::text, vorn_shown_everywhere,
//                          [](My_Lamp& l, const vorn_value& v) { l.look = v.text; },
//                          [](const My_Lamp& l) -> vorn_text { return l.look; }));
//         return words.answer(*this, command);
//     }
//
// What the kit does from that:
// - Creation is two-phase: vorn_create_component constructs the component, then starts it;
//   the start prepares everything that needs memory, then sends "ET id period" and
//   "PS 'panel' 'layout'". The start is the kit's and the handlers come only after it; that a
//   constructor sets up members and sends nothing is this rule, not something the types can
//   stop. A component that fails before its start (a constructor that throws, a panel command
//   that cannot be made) is deleted and sends nothing at all, not even "AS".
// - Parent commands are answered from the vocabulary: settings are parsed by kind and applied,
//   "return=all", "return=NAME", "_events" and "_commands" are made from the same rows. The
//   table is constant data the compiler sees whole: answering costs what the same tests
//   written one by one would.
// - Presses count only on the component's panel and control; ticks of other timers are
//   stopped or ignored, as the component says.
// - Ending: the component's members go first (a bound vorn_binding sends "GU device"), then
//   the poll timer is stopped ("ET id"), then the frame sends "AS".
//
// Threads: none. Every call runs on the host's thread, inside the host's call of the export,
// dispatch or the destructor.
#pragma once

#include "vorn_command_text.h"
#include "vorn_script_helper.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

using vorn_text = vorn_command_text::Piece;

// A fixed text with its length known where it is written: what the kit compares names and
// controls with, and copies into commands, without measuring them again.
struct vorn_word {
    template <std::size_t N>
    constexpr vorn_word(const char (&literal)[N]) : text(literal), size(N - 1) {} // NOLINT
    bool is(const vorn_string& other) const {
        return other.length() == size &&
               std::memcmp(static_cast<const char*>(other), text, size) == 0;
    }
    operator vorn_text() const { return {text, size}; } // NOLINT
    const char* text;
    std::size_t size;
};

// What a setting's value is read as.
enum class vorn_kind {
    truth,  // "true" or "false" in any case; any other text changes nothing
    text,   // any text, the empty one included
    number, // a decimal 32-bit number with an optional sign and nothing else; else nothing
    reading // not a setting: a value the component reports and the panel cannot set
};

// Where a row shows itself. A row may be answered by "return=NAME" and listed in "return=all"
// and "_commands" independently: a component's lists may differ on purpose.
enum vorn_shown : unsigned {
    vorn_shown_nowhere = 0,
    vorn_in_all = 1,      // a line "NAME=VALUE" of return=all
    vorn_in_return = 2,   // answered by return=NAME as "NAME=VALUE"
    vorn_in_commands = 4, // a line "NAME=[value]" of _commands
    vorn_shown_everywhere = 7
};

// A setting's new value as its kind reads it: truth and number are set only for their kinds.
struct vorn_value {
    const vorn_string& text;
    bool truth;
    std::int32_t number;
};

// The truth rule of every setting of kind truth: "false" or "true", in any case.
// Returns 0 (false), 1 (true) or -1 (neither).
inline int vorn_read_truth(const vorn_string& value) {
    if (vorn_equals_lowered(value, "true")) return 1;
    if (vorn_equals_lowered(value, "false")) return 0;
    return -1;
}
// The number rule of kind number: an optional sign and decimal digits, within 32 bits.
bool vorn_read_number(const vorn_string& value, std::int32_t* number);
// "true" or "false".
inline const char* vorn_truth_text(bool value) {
    return value ? "true" : "false";
}

// One row of a vocabulary: its name, kind and places, and what it does, as captureless
// lambdas written inside the component's onParentCommand (where they may use its private
// members):
//   change(Component&, const vorn_value&)   what a change does; called only for a value that
//                                            the kind accepts
//   show(const Component&) -> vorn_text      the value as the answers show it; it must stay
//                                            valid until the answer is made (a member, or a
//                                            fixed text)
//   answer(const Component&) -> vorn_text    what return=NAME answers after "NAME=", when it
//                                            is not what show gives
struct vorn_no_function {};
template <class Change, class Show, class Answer> struct vorn_row {
    vorn_word name;
    vorn_kind kind;
    unsigned shown;
    Change change;
    Show show;
    Answer answer;
};

// A setting the panel sets and the answers show.
template <class Change, class Show>
constexpr vorn_row<Change, Show, vorn_no_function>
vorn_setting(vorn_word name, vorn_kind kind, unsigned shown, Change change, Show show) {
    return {name, kind, shown, change, show, {}};
}
// The same, with return=NAME answering something else than what return=all shows.
template <class Change, class Show, class Answer>
constexpr vorn_row<Change, Show, Answer> vorn_setting(vorn_word name, vorn_kind kind,
                                                      unsigned shown, Change change, Show show,
                                                      Answer answer) {
    return {name, kind, shown, change, show, answer};
}
// A command that no answer shows (such as the panel naming an instance).
template <class Change>
constexpr vorn_row<Change, vorn_no_function, vorn_no_function>
vorn_action(vorn_word name, vorn_kind kind, Change change) {
    return {name, kind, vorn_shown_nowhere, change, {}, {}};
}
// A value the component reports and the panel cannot set.
template <class Show>
constexpr vorn_row<vorn_no_function, Show, vorn_no_function>
vorn_reading(vorn_word name, unsigned shown, Show show) {
    return {name, vorn_kind::reading, shown, {}, show, {}};
}

// The words a component knows: its rows, and the events it raises ("NAME=*" each, in
// _events). Made constant with vorn_words.
template <std::size_t Events, class... Rows> class vorn_vocabulary {
public:
    constexpr vorn_vocabulary(const vorn_word (&events)[Events], Rows... rows)
        : events_(events), rows_(rows...) {}

    // The answer to one parent command, and its effect. "return", "_events" and "_commands"
    // are the kit's; a name that no row has, or a value its kind refuses, does nothing.
    template <class Component>
    vorn_string answer(Component& component, const ParentCommand& command) const;

private:
    template <class Row>
    static constexpr bool shows = !std::is_same_v<decltype(Row::show), vorn_no_function>;
    template <class Row>
    static constexpr bool changes = !std::is_same_v<decltype(Row::change), vorn_no_function>;

    template <class Component>
    vorn_string query(const Component& component, const vorn_string& what) const;
    template <class Component, std::size_t... I>
    vorn_string all(const Component& component, std::index_sequence<I...>) const;
    template <std::size_t I, class Component>
    std::tuple<vorn_text, vorn_text, vorn_text, vorn_text> line(const Component& component) const;
    // The vocabulary answers, which never change: made at the first that is asked for.
    const vorn_string& eventsText() const;
    const vorn_string& commandsText() const;

    const vorn_word (&events_)[Events];
    std::tuple<Rows...> rows_;
};

template <std::size_t Events, class... Rows>
constexpr vorn_vocabulary<Events, Rows...> vorn_words(const vorn_word (&events)[Events],
                                                      Rows... rows) {
    return vorn_vocabulary<Events, Rows...>(events, rows...);
}

// The component's control: the panel it lives on (as text, "1" for panel 1), the control's
// id on it, and the layout file that shows the panel. A component declares its one as the
// constant panelControl.
struct vorn_control {
    vorn_word panel;
    vorn_word control;
    vorn_word layout;
};

// The poll timer: its id and period, and what a tick of any other timer does. A component
// declares its one as the constant pollTimer.
enum class vorn_stray_timers { stop, ignore };
struct vorn_poll_timer {
    std::int32_t id;
    std::int32_t periodMs;
    vorn_stray_timers others;
};

template <class Component> class vorn_component : public vorn_script_helper {
public:
    // The start (see the top of this file), called by vorn_create_component only. When the
    // panel's command cannot be made it throws before anything is sent, and the component is
    // deleted.
    void vorn_created();

protected:
    vorn_component(HostClient* host, const char* path) : vorn_script_helper(host, path) {
        vorn_never_started(); // until vorn_created has sent the start
    }
    ~vorn_component() override {
        if (started_) timerStop(Component::pollTimer.id);
    }

    // A press on the component's own panel and control.
    virtual void onPress() {}
    // A tick of the poll timer.
    virtual void onPoll() {}

    // TP 'property=value' 'panel' 'control', on the component's control.
    void put(Text property, Text value) {
        textPut(property, value, Component::panelControl.panel, Component::panelControl.control);
    }
    // TP 'setting' 'panel' 'control', on the component's control.
    void put(Text setting) {
        textPut(setting, Component::panelControl.panel, Component::panelControl.control);
    }

private:
    void onButton(const ButtonEvent& event) final {
        // Compared with the component's constant texts: the control is not read for another
        // panel.
        if (!Component::panelControl.panel.is(event.panel())) return;
        if (!Component::panelControl.control.is(event.control())) return;
        onPress();
    }
    void onTimer(std::int32_t timerId) final {
        if (timerId == Component::pollTimer.id)
            onPoll();
        else if (Component::pollTimer.others == vorn_stray_timers::stop)
            timerStop(timerId);
    }

    bool started_ = false;
};

// An instance name bound to a device and a range of contacts through the host's lookup
// ("SD 'NAME'"). The numbers are the component's own members; the binding works on them.
class vorn_binding {
public:
    struct Rule {
        std::int32_t contacts; // the range is contact .. contact + contacts - 1
        bool negativeAccepted; // a negative device or contact number is valid
        bool releaseOnlyNamed; // a re-binding releases the old device only when a name was set
        bool unbindOnFailure;  // a failed lookup sets both numbers to 0 (else they stay)
    };
    enum class Outcome {
        unchanged, // the name was the current one: nothing done, nothing sent
        bound,     // registered ("GR") and polled ("GP"); the label is the component's to put
        notFound   // "No valid device or contact" written
    };

    // Lives inside the component whose frame sends its commands and whose members it names.
    vorn_binding(vorn_script_helper& frame, vorn_string& instance, std::int32_t& device,
                 std::int32_t& contact, const Rule& rule)
        : frame_(frame), instance_(instance), device_(device), contact_(contact), rule_(rule) {}
    // Releases the registration ("GU device") when bound: before the poll timer stops.
    ~vorn_binding();
    vorn_binding(const vorn_binding&) = delete;
    vorn_binding& operator=(const vorn_binding&) = delete;

    // Bound while both numbers are non-zero.
    bool bound() const { return device_ != 0 && contact_ != 0; }
    // instance=NAME: when NAME differs from the current name, the debug text "Instance change
    // code called - Instance=NAME\n", "GU device" for the old registration, the lookup, then
    // either "GR device first last" and "GP device first last", or "No valid device or
    // contact\n". The limits: each number non-zero (positive unless negativeAccepted) and the
    // range's last contact below 1000.
    Outcome bind(const vorn_string& name);
    // Which contact of the range a report is for (0 for the first), or nothing when it is not
    // for the range. By the numbers alone: an unbound range (0, 0) takes reports for device 0.
    std::optional<std::int32_t> contactOf(const DeviceReport& report) const {
        if (report.device() != device_) return std::nullopt;
        // One unsigned comparison for both ends of the range; a bound range never wraps (its
        // numbers are below 1000), an unbound one is (0, 0).
        const std::uint32_t at =
            static_cast<std::uint32_t>(report.index()) - static_cast<std::uint32_t>(contact_);
        if (at >= static_cast<std::uint32_t>(rule_.contacts)) return std::nullopt;
        return static_cast<std::int32_t>(at);
    }
    // "GP device first last" while bound.
    void poll();
    // The "idtext" attribute of the configuration entry instances.NAME, for the current name:
    // empty when the entry or the attribute does not exist.
    vorn_string configuredLabel() const;

private:
    std::int32_t last() const { return contact_ + (rule_.contacts - 1); }
    bool valid(std::int32_t number, std::int32_t limit) const {
        return (rule_.negativeAccepted ? number != 0 : number > 0) && number < limit;
    }

    vorn_script_helper& frame_;
    vorn_string& instance_;
    std::int32_t& device_;
    std::int32_t& contact_;
    Rule rule_;
};

// --- templates -----------------------------------------------------------------------------

template <class Component> void vorn_component<Component>::vorn_created() {
    // Everything that needs memory comes first: a component that cannot be made sends nothing.
    const vorn_control& control = Component::panelControl;
    const vorn_command_text show = panelShowText(control.panel, control.layout, "");
    timerStart(Component::pollTimer.id, Component::pollTimer.periodMs);
    started_ = true;
    panelShow(show);
    vorn_script_helper::vorn_created();
}

template <std::size_t Events, class... Rows>
template <class Component>
vorn_string vorn_vocabulary<Events, Rows...>::answer(Component& component,
                                                     const ParentCommand& command) const {
    const vorn_string name = command.name();
    const vorn_string value = command.value();
    if (name == "return") return query(component, value);
    if (static_cast<const char*>(name)[0] == '_') { // an empty name's first is its NUL
        if (name == "_events") return eventsText();
        if (name == "_commands") return commandsText();
    }
    // Names are a vocabulary's own: at most one row has this one.
    const auto change = [&](const auto& row) {
        using Row = std::decay_t<decltype(row)>;
        if constexpr (changes<Row>) {
            if (!row.name.is(name)) return;
            vorn_value read{value, false, 0};
            if (row.kind == vorn_kind::truth) {
                const int truth = vorn_read_truth(value);
                if (truth < 0) return;
                read.truth = truth == 1;
            } else if (row.kind == vorn_kind::number && !vorn_read_number(value, &read.number)) {
                return;
            }
            row.change(component, read);
        }
    };
    std::apply([&](const auto&... row) { (change(row), ...); }, rows_);
    return vorn_string("");
}

template <std::size_t Events, class... Rows>
template <class Component>
vorn_string vorn_vocabulary<Events, Rows...>::query(const Component& component,
                                                    const vorn_string& what) const {
    if (what == "all") return all(component, std::index_sequence_for<Rows...>{});
    vorn_string found("");
    const auto one = [&](const auto& row) {
        using Row = std::decay_t<decltype(row)>;
        if constexpr (shows<Row>) {
            if (!(row.shown & vorn_in_return) || !row.name.is(what)) return;
            if constexpr (std::is_same_v<decltype(Row::answer), vorn_no_function>)
                found = vorn_command_text(what, "=", row.show(component)).str();
            else
                found = vorn_command_text(what, "=", row.answer(component)).str();
        }
    };
    std::apply([&](const auto&... row) { (one(row), ...); }, rows_);
    return found;
}

template <std::size_t Events, class... Rows>
template <std::size_t I, class Component>
std::tuple<vorn_text, vorn_text, vorn_text, vorn_text>
vorn_vocabulary<Events, Rows...>::line(const Component& component) const {
    const auto& row = std::get<I>(rows_);
    using Row = std::decay_t<decltype(row)>;
    if constexpr (shows<Row>) {
        if (row.shown & vorn_in_all) {
            // A line feed before every line but the first.
            bool before = false;
            std::size_t k = 0;
            std::apply(
                [&](const auto&... r) {
                    ((before = before || (k++ < I && shows<std::decay_t<decltype(r)>> &&
                                          (r.shown & vorn_in_all))),
                     ...);
                },
                rows_);
            return {before ? "\n" : "", row.name, "=", row.show(component)};
        }
    }
    return {"", "", "", ""};
}

template <std::size_t Events, class... Rows>
template <class Component, std::size_t... I>
vorn_string vorn_vocabulary<Events, Rows...>::all(const Component& component,
                                                  std::index_sequence<I...>) const {
    return std::apply([](const auto&... pieces) { return vorn_command_text(pieces...).str(); },
                      std::tuple_cat(line<I>(component)...));
}

template <std::size_t Events, class... Rows>
const vorn_string& vorn_vocabulary<Events, Rows...>::eventsText() const {
    static const vorn_string text = [this] {
        vorn_text pieces[3 * Events];
        std::size_t n = 0;
        for (const vorn_word& event : events_) {
            if (n > 0) pieces[n++] = "\n";
            pieces[n++] = event;
            pieces[n++] = "=*";
        }
        return vorn_command_text(vorn_command_text::Table{pieces, n}).str();
    }();
    return text;
}

template <std::size_t Events, class... Rows>
const vorn_string& vorn_vocabulary<Events, Rows...>::commandsText() const {
    static const vorn_string text = [this] {
        vorn_text pieces[3 * sizeof...(Rows) + 1];
        std::size_t n = 0;
        const auto add = [&](const auto& row) {
            if (!(row.shown & vorn_in_commands)) return;
            if (n > 0) pieces[n++] = "\n";
            pieces[n++] = row.name;
            pieces[n++] = "=[value]";
        };
        std::apply([&](const auto&... row) { (add(row), ...); }, rows_);
        return vorn_command_text(vorn_command_text::Table{pieces, n}).str();
    }();
    return text;
}
