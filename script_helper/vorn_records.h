// The one-pointer views of the host's message data that handlers receive.
#pragma once

#include "vorn_decoders.h"
#include "vorn_host_contract.h"
#include "vorn_string.h"

#include <cstdint>

class DeviceReport {
public:
    explicit DeviceReport(const HostDeviceRecord* record) : record_(record) {}
    std::int32_t device() const { return record_->device; }
    std::int32_t index() const { return record_->index; }
    std::int32_t state() const { return record_->state; }

private:
    const HostDeviceRecord* record_;
};

class ButtonEvent {
public:
    explicit ButtonEvent(const HostButtonRecord* record) : record_(record) {}
    vorn_string panel() const { return vorn_string(record_->panel); }
    vorn_string control() const { return vorn_string(record_->control); }

private:
    const HostButtonRecord* record_;
};

class ParentCommand {
public:
    explicit ParentCommand(const ParsedCommand* command) : command_(command) {}
    vorn_string name() const { return vorn_string(command_->name); }
    vorn_string value() const { return vorn_string(command_->value); }

private:
    const ParsedCommand* command_;
};

// Host data of message types 6 and 7; not interpreted.
class MessageRef {
public:
    explicit MessageRef(const void* data) : data_(data) {}
    const void* data() const { return data_; }

private:
    const void* data_;
};
