// A host for tests: keeps every command and debug text in order and answers as a case needs.
#pragma once

#include "contract_monitor.h"
#include "vorn_host_contract.h"
#include "vorn_records.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class RecordingHost : public HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(RecordingHost)

public:
    RecordingHost();
    virtual ~RecordingHost() {}
    const char* send(const char* text, int mode) override;

    // Commands as sent, with "debug: <text>" entries in their place.
    std::vector<std::string> log;
    // Reply to "SD '<name>'" by name; names not listed get null.
    std::map<std::string, std::string> lookups;
    bool answerPanelShow = true;
    int repliesOut = 0;
    int repliesBack = 0;
    // Breaches of the host contract, by the rules vorn-host holds plug-ins to: the send mode,
    // null texts, unknown replies. It allocates nothing of its own in send (tests count the
    // component's allocations), so the grammar is left to vorn-host's scenarios; and the tests
    // call the component directly, so it does not judge when or from where send is called.
    ContractMonitor monitor;

    // Takes the log, leaving it empty.
    std::vector<std::string> take();
    void flushDebug();

private:
    std::set<const char*> outstanding_;
};

// A component created the way the export creates it (make: vorn_create_component<Class>, or a
// plug-in's load function), deleted through the host-facing interface.
class Component {
public:
    Component(vorn_load_function make, HostClient* host, const char* path);
    ~Component();
    vorn_client_callback* get() const { return component_; }

    void parentCommand(const char* text); // answer discarded, buffer handed back
    std::string ask(const char* text);    // the answer ("<null>" for none)
    void report(int device, int contact, int state);
    void press(const char* panel, const char* control);
    void tick(int timer);
    void destroy();

private:
    vorn_client_callback* component_;
};

using Log = std::vector<std::string>;
