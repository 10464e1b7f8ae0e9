// The frame with its host commands opened up, for tests and fuzzing of the command set alone.
#pragma once

#include "vorn_script_helper.h"

class OpenFrame : public vorn_script_helper {
public:
    OpenFrame(HostClient* host, const char* path) : vorn_script_helper(host, path) {}
    using vorn_script_helper::debug;
    using vorn_script_helper::getDevice;
    using vorn_script_helper::gpiPoll;
    using vorn_script_helper::gpiRegister;
    using vorn_script_helper::gpiSwitch;
    using vorn_script_helper::gpiUnregister;
    using vorn_script_helper::hostNotify;
    using vorn_script_helper::panelShow;
    using vorn_script_helper::teardown;
    using vorn_script_helper::textPut;
    using vorn_script_helper::timerStart;
    using vorn_script_helper::timerStop;

protected:
    void onButton(const ButtonEvent&) override {}
    void onDeviceReport(const DeviceReport&) override {}
    vorn_string onParentCommand(const ParentCommand&) override { return {}; }
    void onTimer(std::int32_t) override {}
};
