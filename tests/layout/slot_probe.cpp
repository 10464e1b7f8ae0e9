// The interfaces implemented once each, so that the compiler lays out their vtables: compiled
// to assembly by check_slots.cmake, which reads which function sits in which slot.
#include "vorn_host_contract.h"
struct Probe final : vorn_client_callback {
    VORN_HOST_DESTRUCTOR_BRIDGE(Probe)
    virtual ~Probe() {}
    char* VORN_THISCALL dispatch(void*, int) override { return nullptr; }
};
struct Client final : HostClient {
    VORN_HOST_DESTRUCTOR_BRIDGE(Client)
    virtual ~Client() {}
    const char* VORN_THISCALL send(const char*, int) override { return nullptr; }
};
vorn_client_callback* vorn_probe_component() {
    return new Probe;
}
HostClient* vorn_probe_client() {
    return new Client;
}
