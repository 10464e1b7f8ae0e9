// The library's one export: the host creates a component through it.
#include "Contact_Tile.h"

#include <new>

VORN_EXPORT vorn_client_callback* load_vorn_client_script(HostClient* host, const char* path) {
    // Nothing may escape into the host: if the object or its members cannot be allocated, the
    // host gets null. The object is allocated before anything is constructed, so a failure there
    // sends nothing.
    try {
        return new (std::nothrow) Contact_Tile(host, path);
    } catch (...) {
        return nullptr;
    }
}
