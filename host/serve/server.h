// `vorn-host serve`: the web panel, a local page of live tiles (panel.h has the model).
#pragma once

#include <string>

struct ServeOptions {
    std::string plugin;
    std::string config;
    std::string scenario; // replayed on the page at the start, if given
    std::string listen = "127.0.0.1";
    bool listenGiven = false;
    int port = 8150; // 0: any free port
    int stepSeconds = 10;
};

// Serves the page until Ctrl-C; the exit status (2: the port is taken, the configuration or
// the scenario cannot be used).
int serve(const ServeOptions& options);
