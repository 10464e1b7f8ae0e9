// Every registered component, linked into one program (vorn_link_components() in CMake makes
// the table): tools that take any component pick one by name or loop over all.
#pragma once

#include "vorn_host_contract.h"

#include <cstring>

struct VornComponent {
    const char* name;
    vorn_load_function create; // the export's body, for this component
};

extern const VornComponent vorn_component_table[];
extern const int vorn_component_count;

// The component of that name, or null.
inline const VornComponent* vorn_find_component(const char* name) {
    for (int i = 0; i < vorn_component_count; ++i)
        if (std::strcmp(vorn_component_table[i].name, name) == 0) return &vorn_component_table[i];
    return nullptr;
}
