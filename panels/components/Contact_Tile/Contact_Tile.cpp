#include "Contact_Tile.h"

#include "vorn_config.h"

namespace {

const char* const controlId = "MyContact_Tile";
const char* const layoutFile = "myButton.vorn_ui";
constexpr std::int32_t pollTimer = 1;
constexpr std::int32_t pollPeriodMs = 10000;
// Looked-up device and contact numbers must be below this.
constexpr std::int32_t numberLimit = 1000;

// The tile's panel as the host writes it, in commands and in button events.
const char* const panelText = "1";
const char* truthText(bool value) {
    return value ? "true" : "false";
}

} // namespace

Contact_Tile::Contact_Tile(HostClient* hostClient, const char* path)
    : vorn_script_helper(hostClient, path), instance(""), buttonText(""), stateSheet(""),
      onState(""), offState(""), device(0), contact(0), gpiState(-1), useButton(true),
      useText(false), sendGPI(true) {
    // Everything that needs memory comes first: a tile that cannot be made sends nothing.
    const vorn_command_text show = panelShowText(panelText, layoutFile, "");
    timerStart(pollTimer, pollPeriodMs);
    panelShow(show);
}

Contact_Tile::~Contact_Tile() {
    if (bound()) gpiUnregister(device);
    timerStop(pollTimer);
}

void Contact_Tile::applyLabel() {
    if (useText) {
        textPut("text", buttonText, panelText, controlId);
        return;
    }
    vorn_config entry(vorn_command_text("instances.", instance).str());
    textPut("text", entry.attr("idtext"), panelText, controlId);
}

void Contact_Tile::bindInstance(const vorn_string& name) {
    debug(vorn_command_text("Instance change code called - Instance=", name, "\n").c_str());
    if (instance.length() > 0 && bound()) gpiUnregister(device);
    instance = name;

    std::int32_t foundDevice = 0;
    std::int32_t foundContact = 0;
    getDevice(instance, &foundDevice, &foundContact);
    const bool valid = foundDevice != 0 && foundDevice < numberLimit && foundContact != 0 &&
                       foundContact < numberLimit;
    if (!valid) {
        debug("No valid device or contact\n");
        return;
    }
    device = foundDevice;
    contact = foundContact;
    gpiRegister(device, contact, contact, false);
    gpiPoll(device, contact, contact);
    applyLabel();
}

template <class Apply> void Contact_Tile::readTruth(const vorn_string& value, Apply apply) {
    if (vorn_equals_lowered(value, "true"))
        apply(true);
    else if (vorn_equals_lowered(value, "false"))
        apply(false);
}

vorn_string Contact_Tile::answerQuery(const vorn_string& what) const {
    if (what == "all") {
        const vorn_command_text all(
            "useButton=", truthText(useButton), "\nsendGPI=", truthText(sendGPI),
            "\nuseText=", truthText(useText), "\nbuttonText=", buttonText,
            "\nstateSheet=", stateSheet, "\noffState=", offState, "\nonState=", onState);
        return all.str();
    }
    const auto pair = [&what](vorn_command_text::Piece value) {
        return vorn_command_text(what, "=", value).str();
    };
    if (what == "useButton") return pair(truthText(useButton));
    if (what == "sendGPI") return pair(truthText(sendGPI));
    if (what == "useText") return pair(truthText(useText));
    if (what == "buttonText") return pair(useText ? buttonText : instance);
    return vorn_string("");
}

void Contact_Tile::putLook(const vorn_string& sheet) {
    textPut("statesheet", sheet, panelText, controlId);
}

vorn_string Contact_Tile::onParentCommand(ParentCommand* command) {
    const vorn_string name = command->name();
    const vorn_string value = command->value();

    if (name == "return") return answerQuery(value);
    if (name == "instance" && value != instance) {
        bindInstance(value);
    } else if (name == "useButton") {
        readTruth(value, [this](bool on) {
            useButton = on;
            if (on)
                textPut("style=button", panelText, controlId);
            else
                textPut("style=label", panelText, controlId);
        });
    } else if (name == "sendGPI") {
        readTruth(value, [this](bool on) { sendGPI = on; });
    } else if (name == "useText") {
        readTruth(value, [this](bool on) {
            useText = on;
            applyLabel();
        });
    } else if (name == "buttonText") {
        buttonText = value;
        if (useText) applyLabel();
    } else if (name == "stateSheet") {
        stateSheet = value;
        textPut("stylesheet", stateSheet, panelText, controlId);
    } else if (name == "offState") {
        offState = value;
        if (gpiState == 0) putLook(offState);
    } else if (name == "onState") {
        onState = value;
        if (gpiState == 1) putLook(onState);
    } else if (name == "_events") {
        return vorn_string("GPIvalue=*");
    } else if (name == "_commands") {
        return vorn_string(
            "useButton=[value]\nsendGPI=[value]\nuseText=[value]\nbuttonText=[value]");
    }
    return vorn_string("");
}

void Contact_Tile::onButton(ButtonEvent* event) {
    if (event->panel() != panelText) return;
    if (event->control() != controlId) return;
    if (!bound() || !sendGPI || gpiState == -1) return;
    const std::uint8_t newState = gpiState == 0 ? 1 : 0;
    gpiSwitch(device, newState, contact, true);
}

std::int32_t Contact_Tile::onDeviceReport(DeviceReport* report) {
    // Most reports are for other contacts or repeat the known state: decided here, the rest is
    // showState's.
    if (report->device() != device || report->index() != contact) return 0;
    const std::int32_t state = report->state();
    if (state == gpiState) return 0;
    showState(state);
    return 0;
}

void Contact_Tile::showState(std::int32_t state) {
    if (state == 0) {
        putLook(offState);
        gpiState = 0;
    } else {
        putLook(onState);
        gpiState = 1;
    }
    hostNotify(gpiState == 1 ? "GPIvalue=1" : "GPIvalue=0");
}

void Contact_Tile::onTimer(std::int32_t timerId) {
    if (timerId != pollTimer) {
        timerStop(timerId);
        return;
    }
    if (bound()) gpiPoll(device, contact, contact);
}
