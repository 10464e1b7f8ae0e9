// Loads the built plug-in file as a host does and drives it through the host-facing interface.
#include "recording_host.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

TEST(PluginModule, LoadsAndLivesThroughTheHostFacingInterfaceAlone) {
    void* library = dlopen(VORN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto load = reinterpret_cast<vorn_load_function>(dlsym(library, VORN_LOAD_FUNCTION_NAME));
    ASSERT_NE(load, nullptr);

    RecordingHost host;
    host.lookups["A"] = "12 3";
    vorn_client_callback* tile = load(&host, "panels");
    ASSERT_NE(tile, nullptr);
    char* answer = tile->dispatch(const_cast<char*>("_events"), VORN_MSG_PARENT);
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "GPIvalue=*");
    tile->dispatch(answer, VORN_MSG_RELEASE);
    EXPECT_EQ(tile->dispatch(const_cast<char*>("instance=A"), VORN_MSG_PARENT), nullptr);
    HostDeviceRecord report{12, 0, 3, 1};
    tile->dispatch(&report, VORN_MSG_DEVICE_REPORT);
    HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
    tile->dispatch(&press, VORN_MSG_BUTTON);
    tile->dispatch(reinterpret_cast<void*>(1), VORN_MSG_TIMER);
    vorn_abi_delete(tile);
    EXPECT_EQ(host.take(), (Log{"ET 1 10000", "PS '1' 'panels/myButton.vorn_ui'",
                                "debug: Instance change code called - Instance=A\n", "SD 'A'",
                                "GR 12 3 3", "GP 12 3 3", "TP 'text=' '1' 'MyContact_Tile'",
                                "TP 'statesheet=' '1' 'MyContact_Tile'", "HN 'GPIvalue=1'",
                                "GS 12 3 0 1", "GP 12 3 3", "GU 12", "ET 1", "AS"}));
    EXPECT_EQ(host.repliesOut, host.repliesBack);

    // Each call makes an independent component.
    vorn_client_callback* a = load(nullptr, nullptr);
    vorn_client_callback* b = load(nullptr, "");
    EXPECT_NE(a, b);
    vorn_abi_delete(a);
    vorn_abi_delete(b);
    EXPECT_EQ(dlclose(library), 0);
}
