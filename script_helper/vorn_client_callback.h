// The host-facing interfaces: the component as the host holds it, and the host's client object
// as the component holds it. Only the slots named here are part of the contract.
#pragma once

#include "vorn_abi.h"

// Message types of dispatch.
enum vorn_message_type : int {
    VORN_MSG_DEVICE_REPORT = 1, // data: HostDeviceRecord*
    VORN_MSG_BUTTON = 2,        // data: HostButtonRecord*
    VORN_MSG_PARENT = 3,        // data: NUL-terminated parent-command text
    VORN_MSG_TIMER = 4,         // data: the timer id itself
    VORN_MSG_RELEASE = 5,       // data: an answer buffer returned earlier for type 3
    VORN_MSG_6 = 6,             // data: host data not read by the frame
    VORN_MSG_7 = 7,             // data: host data not read by the frame
};

// Modes of HostClient::send.
enum vorn_send_mode : int {
    VORN_SEND_COMMAND = 0,
    VORN_SEND_RELEASE = 5, // hands a reply back to the host
};

// The component, as the host sees it. Slot 0: destructor; slot 1: dispatch.
class vorn_client_callback {
    VORN_HOST_DESTRUCTOR(vorn_client_callback)
    // Delivers one message. For type 3 the result is a new answer buffer (or null), which the
    // host hands back with type 5; for every other type it is null.
    virtual char* VORN_THISCALL dispatch(void* data, int type) = 0;
};

// The host's client object. Slot 0: its destructor (never called here); slot 1: send.
class HostClient {
    VORN_HOST_DESTRUCTOR(HostClient)
    // Mode 0: a command; the result is the host's reply or null. Mode 5: hands a reply back.
    virtual const char* VORN_THISCALL send(const char* text, int mode) = 0;
};

// The library's one export: creates a component, or returns null when it cannot.
typedef vorn_client_callback* (*vorn_load_function)(HostClient* host, const char* path);
#define VORN_LOAD_FUNCTION_NAME "load_vorn_client_script"
