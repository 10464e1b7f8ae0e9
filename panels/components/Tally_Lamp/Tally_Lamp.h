// Tally_Lamp: a lamp on an operator's panel that shows a source's tally from two GPI contacts of
// one device: contact C is "program", C+1 "preview".
//
// The embedding panel names an instance (instance=A); the lamp asks the host for the instance's
// device and first contact, registers for both contacts and polls them every 5 s on timer 1, and
// shows the tally (program, preview or idle) with a look of each, telling the panel about every
// change (HN 'TALLY=program'). Presses do nothing.
#pragma once

#include "vorn_component.h"

#include <cstdint>

class Tally_Lamp : public vorn_component<Tally_Lamp> {
public:
    Tally_Lamp(HostClient* host, const char* path);

    static constexpr vorn_control panelControl{"1", "MyTally_Lamp", "myTally.vorn_ui"};
    static constexpr vorn_poll_timer pollTimer{1, 5000, vorn_stray_timers::ignore};

protected:
    vorn_string onParentCommand(const ParentCommand& command) override;
    void onDeviceReport(const DeviceReport& report) override;
    void onPoll() override;

private:
    enum class Tally { unknown, program, preview, idle };
    static const char* tallyName(Tally tally);
    const vorn_string& look(Tally tally) const;
    // A look set while the lamp shows its tally is put at once.
    void setLook(Tally which, vorn_string& look, const vorn_string& value);
    void bindTo(const vorn_string& name);

    vorn_string instance;
    std::int32_t device;
    std::int32_t contact;
    // The two contacts' states: -1 unknown, 0 or 1.
    std::int32_t program;
    std::int32_t preview;
    Tally tally;
    vorn_string programLook;
    vorn_string previewLook;
    vorn_string idleLook;
    vorn_binding binding;
};
