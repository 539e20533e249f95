#include "app/view/ViewServer.h"

#include "app/base/Failure.h"
#include "app/recording/Recording.h"
#include "app/view/ViewJson.h"
#include "app/view/ViewPage.h"

#include <httplib.h>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef KX_THREE_DIR
#define KX_THREE_DIR "/usr/share/javascript/three"
#endif

namespace kxhost {

namespace {

using httplib::Request;
using httplib::Response;

constexpr int kMaxStreams = 8;
// Each stream holds a thread; the rest serve files and controls.
constexpr std::size_t kThreads = kMaxStreams + 8;
constexpr std::size_t kMaxBody = 1024;
constexpr std::size_t kQueuedRequests = 16;
// A browser that takes nothing for this long is dropped.
constexpr int kWriteTimeoutSeconds = 2;
// Small, so that a browser that stops reading is found out in seconds.
constexpr int kSendBuffer = 64 * 1024;

void Refuse(Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(why + "\n", "text/plain; charset=utf-8");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "::ffff:127.0.0.1";
}

// The Host header must name the address the request came in on: a page of
// another site that a rebound DNS name points here carries its own name.
bool HostNamesUs(const Request& req, int port) {
    if (req.get_header_value_count("Host") != 1) return false;
    const std::string host = req.get_header_value("Host");
    std::string address = req.local_addr;
    if (address.rfind("::ffff:", 0) == 0) address = address.substr(7);
    std::vector<std::string> names{address.find(':') != std::string::npos ? "[" + address + "]" : address};
    if (IsLoopback(address)) names.push_back("localhost");
    const std::string suffix = ":" + std::to_string(port);
    for (const std::string& name : names) {
        if (host == name + suffix || (port == 80 && host == name)) return true;
    }
    return false;
}

bool OneParam(const Request& req, const char* name, std::string* value) {
    if (req.get_param_value_count(name) != 1) return false;
    *value = req.get_param_value(name);
    return true;
}

// A plain name in the folder `view` started in: no separators, no dots first.
bool PlainRecordingName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name[0] == '.') return false;
    for (unsigned char c : name) {
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
    }
    return Recording::FormatOf(name) != Recording::Format::None;
}

}  // namespace

struct ViewServer::Impl {
    httplib::Server http;
    std::thread thread;
    std::string three, orbitControls;
    std::string hello;
    std::vector<int> suits;
    int port = 0;
    std::atomic<int> streams{0};
};

ViewServer::ViewServer(Options options)
    : options_(std::move(options)), requests_(kQueuedRequests), impl_(std::make_unique<Impl>()) {}

ViewServer::~ViewServer() { Stop(); }

int ViewServer::Port() const { return impl_->port; }

bool ViewServer::Open() const { return !IsLoopback(options_.listen); }

void ViewServer::Bind() {
    const std::string dir = options_.threeDir.empty() ? KX_THREE_DIR : options_.threeDir;
    impl_->three = ReadFile(dir + "/three.min.js");
    impl_->orbitControls = ReadFile(dir + "/examples/js/controls/OrbitControls.js");
    if (impl_->three.empty() || impl_->orbitControls.empty()) {
        throw Failure(kExitFailure, "three.js not found in " + dir +
                                        " (three.min.js and examples/js/controls/OrbitControls.js;"
                                        " Debian: libjs-three)");
    }
    unsigned char address[16];
    if (inet_pton(AF_INET, options_.listen.c_str(), address) != 1 &&
        inet_pton(AF_INET6, options_.listen.c_str(), address) != 1) {
        throw Failure(kExitUsage, "--listen: '" + options_.listen + "' is not an IPv4 or IPv6 address");
    }
    httplib::Server& http = impl_->http;
    // The library's default adds SO_REUSEPORT, which would let a second view
    // share the port instead of being told it is taken.
    http.set_socket_options([](socket_t socket) {
        const int yes = 1, size = kSendBuffer;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
    const int port = options_.port == 0 ? http.bind_to_any_port(options_.listen)
                                        : (http.bind_to_port(options_.listen, options_.port) ? options_.port : -1);
    if (port <= 0) {
        throw Failure(kExitFailure, "cannot listen on " + options_.listen + " port " + std::to_string(options_.port) +
                                        ": in use or not this machine's address (--port picks another)");
    }
    impl_->port = port;
}

void ViewServer::Serve(const std::vector<int>& suits) {
    Impl& impl = *impl_;
    impl.suits = suits;
    impl.hello = HelloEvent(suits, options_.rate);
    httplib::Server& http = impl.http;
    http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    http.set_payload_max_length(kMaxBody);
    http.set_write_timeout(kWriteTimeoutSeconds, 0);
    http.set_read_timeout(5, 0);
    http.set_keep_alive_timeout(2);
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"X-Frame-Options", "DENY"},
                              {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:"},
                              {"Cache-Control", "no-store"}});

    AddChecks();
    AddPageFiles();
    AddFrameStream();
    AddControls();
    impl.thread = std::thread([this] { impl_->http.listen_after_bind(); });
}

void ViewServer::AddChecks() {
    httplib::Server& http = impl_->http;
    http.set_pre_routing_handler([this](const Request& req, Response& res) {
        using R = httplib::Server::HandlerResponse;
        if (!HostNamesUs(req, impl_->port)) {
            Refuse(res, 403, "the Host header does not name this server");
            return R::Handled;
        }
        const bool control = req.path.rfind("/api/", 0) == 0;
        if (control ? req.method != "POST" : req.method != "GET" && req.method != "HEAD") {
            Refuse(res, 405, control ? "controls take POST" : "only GET here");
            return R::Handled;
        }
        if (control) {
            if (req.get_header_value_count("Origin") != 1 ||
                req.get_header_value("Origin") != "http://" + req.get_header_value("Host")) {
                Refuse(res, 403, "controls are taken only from this server's own page");
                return R::Handled;
            }
            const std::string type = req.get_header_value("Content-Type");
            if (!type.empty() && type.rfind("application/x-www-form-urlencoded", 0) != 0) {
                Refuse(res, 415, "controls take form fields (application/x-www-form-urlencoded)");
                return R::Handled;
            }
        }
        return R::Unhandled;
    });
}

void ViewServer::AddPageFiles() {
    httplib::Server& http = impl_->http;
    for (std::size_t i = 0; i < kViewPageCount; ++i) {
        const ViewPageFile& file = kViewPage[i];
        http.Get(file.path, [&file](const Request&, Response& res) {
            res.set_content(reinterpret_cast<const char*>(file.data), file.size, file.type);
        });
    }
    http.Get("/three/three.min.js", [this](const Request&, Response& res) {
        res.set_content(impl_->three, "text/javascript");
    });
    http.Get("/three/OrbitControls.js", [this](const Request&, Response& res) {
        res.set_content(impl_->orbitControls, "text/javascript");
    });
}

void ViewServer::AddFrameStream() {
    httplib::Server& http = impl_->http;
    http.Get("/events", [this](const Request&, Response& res) {
        if (++impl_->streams > kMaxStreams) {
            --impl_->streams;
            Refuse(res, 503, "too many frame streams open");
            return;
        }
        struct Stream {
            long seen = -1;
            bool greeted = false;
        };
        auto stream = std::make_shared<Stream>();
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) {
                if (!stream->greeted) {
                    stream->greeted = true;
                    return sink.write(impl_->hello.data(), impl_->hello.size());
                }
                const auto frames = feed_.Next(stream->seen, std::chrono::milliseconds(500));
                if (feed_.Closed()) {
                    sink.done();
                    return true;
                }
                if (frames.empty()) {
                    static const char kStillHere[] = ": no new frame\n\n";
                    return sink.write(kStillHere, sizeof kStillHere - 1);
                }
                stream->seen = frames.back()->index;
                if (frames.size() == 1) {
                    if (!sink.write(frames[0]->Event().data(), frames[0]->Event().size())) return false;
                } else {
                    std::string events;
                    for (const auto& frame : frames) events += frame->Event();
                    if (!sink.write(events.data(), events.size())) return false;
                }
                return true;
            },
            [this](bool) { --impl_->streams; });
    });
}

void ViewServer::AddControls() {
    httplib::Server& http = impl_->http;
    auto suitRequest = [this](ViewRequest::Kind kind, bool mode) {
        return [this, kind, mode](const Request& req, Response& res) {
            ViewRequest request;
            request.kind = kind;
            std::string suit, value;
            if (!OneParam(req, "suit", &suit)) return Refuse(res, 400, "give one suit: an index or all");
            if (suit != "all") {
                const auto& known = impl_->suits;
                const auto it = std::find_if(known.begin(), known.end(),
                                             [&](int s) { return std::to_string(s) == suit; });
                if (it == known.end()) return Refuse(res, 400, "no suit '" + suit + "' in this view");
                request.suit = *it;
            }
            if (mode) {
                if (!OneParam(req, "mode", &value) || (value != "on" && value != "off")) {
                    return Refuse(res, 400, "mode must be on or off");
                }
                request.on = value == "on";
            }
            Answer(request, res);
        };
    };
    using Kind = ViewRequest::Kind;
    http.Post("/api/set-null", suitRequest(Kind::SetNull, false));
    http.Post("/api/set-north", suitRequest(Kind::SetNorth, false));
    http.Post("/api/jumping", suitRequest(Kind::Jumping, true));
    http.Post("/api/uneven-terrain", suitRequest(Kind::UnevenTerrain, true));
    http.Post("/api/ignore-floor", suitRequest(Kind::IgnoreFloor, true));
    http.Post("/api/record/start", [this](const Request& req, Response& res) {
        ViewRequest request;
        request.kind = Kind::RecordStart;
        if (!OneParam(req, "file", &request.file) || !PlainRecordingName(request.file)) {
            return Refuse(res, 400,
                          "a recording is a plain file name ending in .bvh or .csv (letters, digits, - _ .)");
        }
        Answer(request, res);
    });
    http.Post("/api/record/stop", [this](const Request&, Response& res) {
        ViewRequest request;
        request.kind = Kind::RecordStop;
        Answer(request, res);
    });
}

void ViewServer::Answer(const ViewRequest& request, httplib::Response& res) {
    // Two frames at the slowest rate, or two seconds, whichever is longer.
    const auto timeout =
        std::chrono::milliseconds(static_cast<long>(std::max(2000.0, 2000.0 / options_.rate)));
    const ViewAnswer answer = requests_.Submit(request, timeout);
    res.status = answer.status;
    res.set_content(answer.text + "\n", "text/plain; charset=utf-8");
}

void ViewServer::Stop() {
    feed_.Close();
    requests_.Close();
    if (impl_->thread.joinable()) {
        impl_->http.stop();
        impl_->thread.join();
    }
}

}  // namespace kxhost
