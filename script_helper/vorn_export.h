// The library's export, for a component's folder to write once:
//
//     VORN_COMPONENT_EXPORT(Contact_Tile)
//
// in its load_vorn_client_script.cpp. Tests and tools that link a component's code directly
// create it with vorn_create_component<Class> instead, so that any number of components can be
// linked into one program.
#pragma once

#include "vorn_host_contract.h"

#include <new>

// Allocates and constructs one component, then starts it (vorn_created). Nothing escapes into
// the host: if the object or its members cannot be allocated, or anything else throws, the
// result is null. A component that fails before it starts sends nothing at all: it has said
// nothing to the host, and its end sends no "AS" either.
template <class Component>
vorn_client_callback* vorn_create_component(HostClient* host, const char* path) noexcept {
    Component* component = nullptr;
    try {
        component = new (std::nothrow) Component(host, path);
        if (component) component->vorn_created();
        return component;
    } catch (...) {
        delete component;
        return nullptr;
    }
}

#define VORN_COMPONENT_EXPORT(Component)                                                           \
    VORN_EXPORT vorn_client_callback* load_vorn_client_script(HostClient* host,                    \
                                                              const char* path) {                  \
        return vorn_create_component<Component>(host, path);                                       \
    }
