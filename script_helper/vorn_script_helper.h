// The frame of every script component: keeps the host link, decodes the host's messages and
// routes them to the component's handlers, and builds the host commands.
#pragma once

#include "vorn_command_text.h"
#include "vorn_export.h"
#include "vorn_host_contract.h"
#include "vorn_records.h"
#include "vorn_string.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

class vorn_script_helper : public vorn_client_callback {
    VORN_HOST_DESTRUCTOR_BRIDGE(vorn_script_helper)

public:
    vorn_script_helper(HostClient* host, const char* path);
    // Sends "AS", the component's last command.
    virtual ~vorn_script_helper();
    vorn_script_helper(const vorn_script_helper&) = delete;
    vorn_script_helper& operator=(const vorn_script_helper&) = delete;

    char* VORN_THISCALL dispatch(void* data, int type) override;

    // Called by vorn_create_component once the component is whole: from then on its end
    // always sends "AS". A component whose constructor throws, or that cannot start (see
    // vorn_component), is deleted, and says nothing at its end.
    void vorn_created() {
        created_ = true;
        neverStarted_ = false;
    }

protected:
    // Handlers, in the frame's slot order after dispatch. Each runs on the host's thread inside
    // one dispatch call; the event it is given, and every text taken from it, is the host's and
    // lives only until the handler returns.
    virtual void onButton(const ButtonEvent& event) = 0;
    virtual void onDeviceReport(const DeviceReport& report) = 0;
    // The answer goes back to the host as a buffer of its own (none when it is empty).
    virtual vorn_string onParentCommand(const ParentCommand& command) = 0;
    // Message types 7 and 6 (in this slot order): host data the frame does not interpret.
    virtual void onMessage7(const MessageRef&) {}
    virtual void onTimer(std::int32_t timerId) = 0;
    virtual void onMessage6(const MessageRef&) {}

    // Texts are taken as pieces of the command (a vorn_string or a plain text), copied once
    // into it: a fixed text costs no temporary string.
    using Text = vorn_command_text::Piece;

    // Host commands. Each sends nothing while host is null.
    // PS 'panel' 'file' ['params']; file prefixed by hostPath + "/" when hostPath is set.
    // True when the host answered, or when there is no host.
    bool panelShow(const vorn_string& panel, const vorn_string& file, const vorn_string& params);
    // The same in two halves, for a constructor that must have everything it needs before its
    // first command: the text (which may need memory), then its sending (which needs none).
    vorn_command_text panelShowText(Text panel, Text file, Text params) const;
    bool panelShow(const vorn_command_text& text);
    // TP 'property=value' 'panel' 'control'
    void textPut(Text property, Text value, Text panel, Text control);
    // TP 'setting' 'panel' 'control'
    void textPut(Text setting, Text panel, Text control);
    void hostNotify(Text text);                              // HN 'text'
    void timerStart(std::int32_t id, std::int32_t periodMs); // ET id period
    void timerStop(std::int32_t id);                         // ET id
    void gpiRegister(std::int32_t device, std::int32_t first, std::int32_t last, bool add); // GR
    void gpiUnregister(std::int32_t device); // GU device
    // GS device contact state flag: note the argument order differs from the text's.
    void gpiSwitch(std::int32_t device, std::uint8_t state, std::int32_t contact, bool flag);
    void gpiPoll(std::int32_t device, std::int32_t first, std::int32_t last); // GP
    // SD 'name': stores 0 through both outputs first, then the reply's first two numbers.
    // True when the host replied at all.
    bool getDevice(Text name, std::int32_t* device, std::int32_t* contact);
    void teardown(); // AS
    static void debug(const char* text);

    HostClient* host;
    vorn_string hostPath;

private:
    friend class vorn_binding; // sends the binding's commands on the component's behalf
    bool created_ = false;
    int exceptionsAtStart_;

protected:
    // For a component that has not started (until vorn_created): its end sends no "AS".
    void vorn_never_started() { neverStarted_ = true; }

private:
    bool neverStarted_ = false;
    // Every message type but device reports.
    char* dispatchOther(void* data, int type);
    const char* sendText(const char* text);
    // The two-letter word, then each number after one space (written with std::to_chars: no
    // printf, no locale), then " 'ADD'" when add is set.
    void sendNumeric(const char (&word)[3], std::initializer_list<std::int32_t> numbers,
                     bool add = false);
};

// True when text, its ASCII letters lower-cased, is lowerWord (which holds no upper-case
// letter): what comparing vorn_string::lower() with lowerWord tells, without making the copy.
// Inline, so that a literal word's length and letters are constants.
inline bool vorn_equals_lowered(const vorn_string& text, const char* lowerWord) {
    const std::size_t size = std::strlen(lowerWord);
    if (text.length() != size) return false;
    const char* c = text;
    for (std::size_t i = 0; i < size; ++i) {
        const char w = lowerWord[i];
        if (c[i] != w && !(w >= 'a' && w <= 'z' && c[i] == w - 'a' + 'A')) return false;
    }
    return true;
}

// The decimal value of a text as the C library's atoi reads it (leading blanks, a sign, digits
// up to the first other character; 0 when there are none), but clamped to the 32-bit range
// where atoi's result would be undefined.
std::int32_t vorn_to_int(const char* text);
