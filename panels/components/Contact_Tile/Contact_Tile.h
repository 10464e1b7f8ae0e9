// Contact_Tile: one button on an operator's panel that stands for one GPI contact of one device.
//
// The embedding panel names an instance (instance=A); the tile asks the host for the instance's
// device and contact, registers for the contact's reports, polls it every 10 s on timer 1, shows
// its state with an on look and an off look, tells the panel about every change
// (HN 'GPIvalue=0/1'), and switches the contact when pressed.
#pragma once

#include "vorn_script_helper.h"

#include <cstdint>

class Contact_Tile : public vorn_script_helper {
public:
    Contact_Tile(HostClient* host, const char* path);
    ~Contact_Tile() override;

    // Puts the button's label: buttonText when useText is set, else the "idtext" attribute of
    // the configuration entry instances.<instance>.
    void applyLabel();

protected:
    void onButton(ButtonEvent* event) override;
    std::int32_t onDeviceReport(DeviceReport* report) override;
    vorn_string onParentCommand(ParentCommand* command) override;
    void onTimer(std::int32_t timerId) override;

private:
    // Bound while both numbers are non-zero.
    bool bound() const { return device != 0 && contact != 0; }
    void bindInstance(const vorn_string& name);
    vorn_string answerQuery(const vorn_string& what) const;
    void putLook(const vorn_string& sheet);
    // A report of a new state: the look, then the notification.
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    void
    showState(std::int32_t state);
    // Applies a truth value ("true"/"false", any case); other texts change nothing.
    template <class Apply> static void readTruth(const vorn_string& value, Apply apply);

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
};
