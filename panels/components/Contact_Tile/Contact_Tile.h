// Contact_Tile: one button on an operator's panel that stands for one GPI contact of one device.
//
// The embedding panel names an instance (instance=A); the tile asks the host for the instance's
// device and contact, registers for the contact's reports, polls it every 10 s on timer 1, shows
// its state with an on look and an off look, tells the panel about every change
// (HN 'GPIvalue=0/1'), and switches the contact when pressed.
#pragma once

#include "vorn_component.h"

#include <cstdint>

class Contact_Tile : public vorn_component<Contact_Tile> {
public:
    Contact_Tile(HostClient* host, const char* path);

    // Puts the button's label: buttonText when useText is set, else the "idtext" attribute of
    // the configuration entry instances.<instance>.
    void applyLabel();

    static constexpr vorn_control panelControl{"1", "MyContact_Tile", "myButton.vorn_ui"};
    static constexpr vorn_poll_timer pollTimer{1, 10000, vorn_stray_timers::stop};

protected:
    vorn_string onParentCommand(const ParentCommand& command) override;
    void onDeviceReport(const DeviceReport& report) override;
    void onPress() override;
    void onPoll() override;

private:
    void putLook(const vorn_string& sheet);
    // A report of a new state: the look, then the notification.
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    void
    showState(std::int32_t state);

    vorn_string instance;
    vorn_string buttonText;
    vorn_string stateSheet;
    vorn_string onState;
    vorn_string offState;
    std::int32_t device;
    std::int32_t contact;
    std::int32_t gpiState;
    bool useButton;
    bool useText;
    bool sendGPI;
    // Declared last: it names the members above, and releases the contact before they go.
    vorn_binding binding;
};
