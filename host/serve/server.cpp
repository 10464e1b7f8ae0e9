#include "server.h"

#include "config_check.h"
#include "crash_report.h"
#include "facility.h"
#include "host_command.h"
#include "page_assets.h"
#include "panel.h"
#include "plugin.h"
#include "step.h"
#include "vorn_file.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

using nlohmann::json;

namespace {

bool isLoopback(const std::string& address) {
    return address == "127.0.0.1" || address == "localhost" || address == "::1" ||
           address.rfind("127.", 0) == 0;
}

// The address as a URL's host: an IPv6 one in brackets; every address of the machine as the
// loopback one, which answers too.
std::string urlHost(const std::string& listen) {
    if (listen == "0.0.0.0") return "127.0.0.1";
    if (listen == "::") return "[::1]";
    if (listen.find(':') != std::string::npos) return "[" + listen + "]";
    return listen;
}

// The Host headers this server answers: its own names only, so that a page of another site
// that a DNS name was pointed at this machine (DNS rebinding) gets nothing.
std::vector<std::string> ownHosts(const ServeOptions& options, int port) {
    const std::string p = ":" + std::to_string(port);
    std::vector<std::string> hosts = {"127.0.0.1" + p, "localhost" + p, "[::1]" + p};
    hosts.push_back(urlHost(options.listen) + p); // the address it listens on is its own too
    return hosts;
}

// What one client can hold of the server. Each connection has a thread of its own, up to
// maxConnections at once: a client that keeps its connection open, or sends its request a byte
// at a time, holds its own thread, never the one a fresh request needs. Event streams are held
// open by pages for as long as they are open, and are capped on their own.
constexpr int maxConnections = 256;
constexpr int maxStreams = 16;
constexpr std::size_t maxHeaders = 64;
constexpr std::size_t maxStep = 64 * 1024;   // one step's text
constexpr std::size_t maxScenario = 4 << 20; // a scenario opened on the page

// httplib's queue of connections: a thread for each, up to maxConnections; the rest wait their
// turn. Threads are detached and share the queue's state, which lives as long as the last.
class ConnectionThreads final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->running >= maxConnections) {
            state_->waiting.push_back(std::move(task));
            return;
        }
        ++state_->running;
        std::thread([state = state_, task = std::move(task)]() mutable {
            for (;;) {
                task();
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->waiting.empty()) {
                    --state->running;
                    state->idle.notify_all();
                    return;
                }
                task = std::move(state->waiting.front());
                state->waiting.pop_front();
            }
        }).detach();
    }
    void shutdown() override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->idle.wait(lock, [&] { return state_->running == 0; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        int running = 0;
        std::deque<std::function<void()>> waiting;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

void text(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(message + "\n", "text/plain; charset=utf-8");
}

} // namespace

int serve(const ServeOptions& options) {
    // What cannot be served stops here, as run stops for it: a plug-in that is not there, and
    // a configuration with problems, each said with its file and line.
    if (!pluginFileExists(options.plugin)) {
        std::cerr << "vorn-host: " << options.plugin << ": no such plug-in file\n";
        return 2;
    }
    if (!options.config.empty()) {
        Facility facility;
        std::vector<ConfigProblem> problems;
        facility.load(options.config, problems);
        for (const ConfigProblem& p : problems)
            std::cerr << escape(options.config) << (p.line > 0 ? ":" + std::to_string(p.line) : "")
                      << ": " << p.text << " (--config)\n";
        if (!problems.empty()) return 2;
    }
    // The component's settings, asked once: the configuration's tiles are checked against
    // them, and the page names the closest one for a parent command it does not know.
    KnownSettings settings;
    std::string asked;
    if (!learnSettings(options.plugin, settings, asked)) {
        std::cerr << "vorn-host: " << asked << "\n";
        return 2;
    }
    PanelOptions panelOptions;
    panelOptions.settings = settings.names;
    if (!options.config.empty()) {
        // What will not do what it seems to is said, here and on the page; the panel serves.
        std::vector<ConfigFinding> findings;
        checkConfig(options.config, settings, findings);
        for (const ConfigFinding& f : findings) {
            const std::string line = escape(options.config) +
                                     (f.line > 0 ? ":" + std::to_string(f.line) : "") + ": " +
                                     f.text;
            std::cerr << "vorn-host: warning: " << line << "\n";
            panelOptions.warnings.push_back(line);
        }
    }
    // A scenario given here names its files from its own folder, as run reads it.
    panelOptions.session = SessionOptions{options.plugin, options.scenario};
    panelOptions.config = options.config;
    panelOptions.stepSeconds = options.stepSeconds;
    Panel panel(panelOptions);

    httplib::Server server;
    server.new_task_queue = [] { return new ConnectionThreads; };
    server.set_payload_max_length(maxScenario);
    // One request a connection: a body refused unread is never taken for the next request.
    server.set_keep_alive_max_count(1);
    std::atomic<int> streams{0};
    // One server a port: a second one must fail to bind, not share the port.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
#else
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.listen);
        if (port < 0) port = 0;
    } else if (!server.bind_to_port(options.listen, port)) {
        port = 0;
    }
    if (port == 0) {
        std::cerr << "vorn-host: cannot listen on " << options.listen << ":" << options.port
                  << " (another server on that port?)\n";
        return 2;
    }
    std::string error;
    if (!panel.begin(error)) {
        std::cerr << "vorn-host: " << error << "\n";
        return 2;
    }
    if (!options.scenario.empty()) {
        std::ifstream in(options.scenario, std::ios::binary);
        if (!in) {
            std::cerr << "vorn-host: " << options.scenario << ": cannot read the scenario file\n";
            return 2;
        }
        std::stringstream all;
        all << in.rdbuf();
        const PanelAnswer a = panel.replay(all.str());
        if (a.status != 200) {
            std::cerr << "vorn-host: " << options.scenario << ": " << a.message;
            return 2;
        }
    }

    const std::vector<std::string> hosts = ownHosts(options, port);
    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        const std::string host = req.get_header_value("Host");
        // On every address the machine has, its names are not known here: any is answered.
        if (options.listen != "0.0.0.0" && options.listen != "::" &&
            std::find(hosts.begin(), hosts.end(), host) == hosts.end()) {
            text(res, 403, "not this server's name: Host '" + host + "'");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.headers.size() > maxHeaders) {
            text(res, 431, "at most " + std::to_string(maxHeaders) + " header lines a request");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A body without its length (chunked, or until the client gives up) is refused before it
        // is read: only a length can be held to a limit before the body comes.
        if (req.method != "GET" &&
            (!req.has_header("Content-Length") || req.has_header("Transfer-Encoding"))) {
            text(res, 411, "a request with a body needs its Content-Length (0 for none)");
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::size_t length =
            std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        if ((req.path == "/api/step" || req.path == "/api/act") && length > maxStep) {
            text(res, 413, "a step is at most " + std::to_string(maxStep / 1024) + " KiB");
            return httplib::Server::HandlerResponse::Handled;
        }
        // What changes the panel comes only from the panel's own page, or from a script on this
        // machine. Rationale: a browser names the page's origin in every request that changes
        // anything (fetch and forms alike), so a request with a foreign Origin is another site's
        // page; one with none is not a browser's (curl, a test rig), and the Host check above
        // has already held it to this server's own names.
        if (req.method != "GET" && req.has_header("Origin") &&
            req.get_header_value("Origin") != "http://" + host) {
            text(res, 403,
                 "refused: a change comes only from the panel's own page (Origin '" +
                     req.get_header_value("Origin") + "')");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(pageHtml(), "text/html; charset=utf-8");
    });
    server.Get("/favicon.ico",
               [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get("/panel.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(pageScript(), "text/javascript; charset=utf-8");
    });
    server.Get("/panel.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(pageStyle(), "text/css; charset=utf-8");
    });
    server.Get("/api/state", [&](const httplib::Request& req, httplib::Response& res) {
        std::int64_t since = 0;
        if (req.has_param("since")) {
            try {
                since = std::stoll(req.get_param_value("since"));
            } catch (...) {
                return text(res, 400, "since takes a line number");
            }
        }
        // view=none: the transcript's lines alone, without the tiles and the facility.
        res.set_content(jsonText(panel.state(since, -1, req.get_param_value("view") != "none")),
                        "application/json");
    });
    server.Get("/api/events", [&](const httplib::Request&, httplib::Response& res) {
        if (++streams > maxStreams) {
            --streams;
            return text(res, 503,
                        "at most " + std::to_string(maxStreams) +
                            " open event streams (pages of this panel): close one");
        }
        res.set_header("Cache-Control", "no-store");
        auto seen = std::make_shared<std::int64_t>(-1);
        auto next = std::make_shared<std::int64_t>(0);
        auto viewSeen = std::make_shared<std::int64_t>(-1); // the page has no tile yet
        res.set_chunked_content_provider(
            "text/event-stream",
            [&panel, seen, next, viewSeen](std::size_t, httplib::DataSink& sink) {
                // A second at most: a stream whose page has gone fails its next write and
                // gives its worker back.
                const std::int64_t version = panel.waitForChange(*seen, 1000);
                if (version < 0) return false; // the server stops
                if (version == *seen) { // nothing for a while: a comment keeps the stream open
                    const std::string keep = ": idle\n\n";
                    return sink.write(keep.data(), keep.size());
                }
                *seen = version;
                // After the first event, what changed since the one before.
                json state = panel.state(*next, *viewSeen);
                *next = state["next"].get<std::int64_t>();
                *viewSeen = state["viewVersion"].get<std::int64_t>();
                const std::string event = "data: " + jsonText(state) + "\n\n";
                return sink.write(event.data(), event.size());
            },
            [&streams](bool) { --streams; });
    });
    server.Get("/api/recording", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"panel.vorn\"");
        res.set_content(panel.recording(), "text/plain; charset=utf-8");
    });
    auto answered = [](httplib::Response& res, const PanelAnswer& a) {
        text(res, a.status, a.message);
    };
    server.Post("/api/step", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.body.find('\n') != std::string::npos)
            return text(res, 400, "one step a request: a line without a line feed");
        answered(res, panel.act(req.body));
    });
    server.Post("/api/act", [&](const httplib::Request& req, httplib::Response& res) {
        const json request = json::parse(req.body, nullptr, false);
        if (request.is_discarded()) return text(res, 400, "an act is a JSON object");
        answered(res, panel.actOn(request));
    });
    // The scripting interface: tiles by name, the facility, and steps on them; answers in JSON.
    auto stepDone = [](httplib::Response& res, const PanelAnswer& a) {
        if (a.done.is_null()) return text(res, a.status, a.message);
        res.status = a.status;
        res.set_content(jsonText(a.done) + "\n", "application/json");
    };
    const std::string tilePath = R"(/api/tiles/([^/]+))";
    server.Get("/api/tiles", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(jsonText(panel.state(std::numeric_limits<std::int64_t>::max())["tiles"]) +
                            "\n",
                        "application/json");
    });
    server.Get(tilePath, [&](const httplib::Request& req, httplib::Response& res) {
        const json t = panel.tile(req.matches[1]);
        if (t.is_null()) return text(res, 404, "no tile named '" + escape(req.matches[1]) + "'");
        res.set_content(jsonText(t) + "\n", "application/json");
    });
    server.Get("/api/facility", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(jsonText(panel.facilityView()) + "\n", "application/json");
    });
    server.Post(tilePath + "/press", [&](const httplib::Request& req, httplib::Response& res) {
        stepDone(res, panel.press(req.matches[1]));
    });
    server.Post(tilePath + "/parent", [&](const httplib::Request& req, httplib::Response& res) {
        if (panel.tile(req.matches[1]).is_null())
            return text(res, 404, "no tile named '" + escape(req.matches[1]) + "'");
        stepDone(res,
                 panel.actOn({{"act", "parent"}, {"tile", req.matches[1]}, {"text", req.body}}));
    });
    server.Post(R"(/api/contacts/(-?\d+)/(-?\d+))", [&](const httplib::Request& req,
                                                        httplib::Response& res) {
        const std::string& body = req.body;
        std::int32_t to = 0;
        if (body == "on")
            to = 1;
        else if (body == "off")
            to = 0;
        else if (!parseInt32(body, to))
            return text(res, 400, "a contact is switched 'on', 'off' or to a number");
        std::int32_t device = 0, contact = 0;
        if (!parseInt32(req.matches[1], device) || !parseInt32(req.matches[2], contact))
            return text(res, 400, "a device and a contact are 32-bit numbers");
        stepDone(res,
                 panel.actOn(
                     {{"act", "switch"}, {"device", device}, {"contact", contact}, {"state", to}}));
    });
    server.Post("/api/panel", [&](const httplib::Request&, httplib::Response& res) {
        answered(res, panel.backToPanel());
    });
    // The images of the panel's folder that style sheets name, and no other file.
    server.Get(R"(/files/(.+))", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.matches[1];
        if (!panel.hasFile(path))
            return text(res, 404, "no image '" + escape(path) + "' in the panel's folder");
        vorn_file_version version;
        std::string bytes;
        const std::string full = panel.folder() + "/" + path;
        if (!vorn_file_stat(full.c_str(), version) ||
            vorn_file_read_whole(full.c_str(), 16 << 20, version, bytes) != vorn_file_read::Read)
            return text(res, 404, "cannot read '" + escape(path) + "' (at most 16 MiB)");
        std::string extension = path.substr(path.rfind('.') + 1);
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string type = extension == "svg"                          ? "image/svg+xml"
                                 : extension == "jpg" || extension == "jpeg" ? "image/jpeg"
                                                                             : "image/" + extension;
        res.set_header("Cache-Control", "no-store");
        // An SVG opened on its own runs no script in the panel's origin.
        res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
        res.set_content(bytes, type);
    });
    server.Post("/api/replay", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.has_param("name") ? req.get_param_value("name") : "";
        if (name.find_first_of("/\\") != std::string::npos || name == "..")
            return text(res, 400, "name: a file's name, without a folder");
        answered(res, panel.replay(req.body, name));
    });
    server.Post("/api/restart", [&](const httplib::Request&, httplib::Response& res) {
        answered(res, panel.restart());
    });
    server.Post("/api/clock", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.body != "run" && req.body != "pause")
            return text(res, 400, "the clock takes 'run' or 'pause'");
        panel.setClockRunning(req.body == "run");
        text(res, 200, "");
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) text(res, res.status, "no such page or request");
    });

    if (!isLoopback(options.listen))
        std::cerr << "vorn-host: warning: listening on " << options.listen
                  << ": other machines can reach this panel and drive the plug-in\n";
    std::cout << "serving http://" << urlHost(options.listen) << ":" << port << "/ (Ctrl-C ends it)"
              << std::endl;

    interruptWatch();
    std::atomic<bool> done{false};
    std::thread clock([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            if (!done) panel.secondPassed();
        }
    });
    std::thread watch([&] {
        while (!done && !interrupted())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        panel.close();
        server.stop();
    });
    server.listen_after_bind();
    done = true;
    watch.join();
    clock.join();
    std::cout << "stopped" << std::endl;
    return 0;
}
