// Echo_Tile: the smallest component there is, to prove the frame and the tools with a component
// other than the product. It answers every parent command with the command itself
// (name=value, or the name alone when there is no value), tells the panel which control was
// pressed (HN 'control'), and ignores everything else; the frame ends it with "AS".
#pragma once

#include "vorn_script_helper.h"

class Echo_Tile : public vorn_script_helper {
public:
    Echo_Tile(HostClient* host, const char* path) : vorn_script_helper(host, path) {}

protected:
    void onButton(const ButtonEvent& event) override;
    void onDeviceReport(const DeviceReport&) override {}
    vorn_string onParentCommand(const ParentCommand& command) override;
    void onTimer(std::int32_t) override {}
};
