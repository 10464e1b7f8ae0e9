// Dial_Tile: a component for the tests, on the writer's kit, that uses what the shipped
// components leave out of it: a setting of kind number, a truth setting that return=NAME
// answers in words of its own, a setting that no answer shows, rows listed in only one of the
// three answers, an action with a number, two events, a control on panel 2 and a poll timer
// that leaves other timers alone.
//
// When armed, a press turns the dial by its step and tells the panel (HN 'DIAL=value'); "jump"
// sets the value; each tick of timer 3 (every 2 s) tells the panel where the dial stands
// (HN 'TURNED=value'); "label" puts the control's text.
#pragma once

#include "vorn_component.h"

#include <cstdint>

class Dial_Tile : public vorn_component<Dial_Tile> {
public:
    Dial_Tile(HostClient* host, const char* path)
        : vorn_component(host, path), value(0), step(1), armed(false), valueText("0"),
          stepText("1"), label("dial"), note(""), mode("") {}

    static constexpr vorn_control panelControl{"2", "MyDial", "myDial.vorn_ui"};
    static constexpr vorn_poll_timer pollTimer{3, 2000, vorn_stray_timers::ignore};

protected:
    vorn_string onParentCommand(const ParentCommand& command) override;
    void onDeviceReport(const DeviceReport&) override {}
    void onPress() override;
    void onPoll() override;

private:
    void turnTo(std::int32_t to);

    std::int32_t value;
    std::int32_t step;
    bool armed;
    vorn_string valueText;
    vorn_string stepText;
    vorn_string label;
    vorn_string note;
    vorn_string mode;
};
