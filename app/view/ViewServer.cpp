#include "app/view/ViewServer.h"

#include "app/base/Failure.h"
#include "app/recording/Recording.h"
#include "app/view/FormFields.h"
#include "app/view/FrameStreams.h"
#include "app/view/ViewJson.h"
#include "app/view/ViewPage.h"
#include "app/view/WebServer.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <unordered_set>

#ifndef KX_THREE_DIR
#define KX_THREE_DIR "/usr/share/javascript/three"
#endif

namespace kxhost {

namespace {

constexpr int kMaxStreams = 8;
// A control's form is a few fields; a body longer than this is refused.
constexpr std::size_t kMaxBody = 1024;
constexpr std::size_t kQueuedRequests = 16;
// Once the frames end, what is on its way (the streams' ends, the answers
// of 503) gets this long to leave before every connection is closed.
constexpr auto kGrace = std::chrono::milliseconds(300);

WebServer::Limits ViewLimits() {
    WebServer::Limits limits;
    limits.connections = 256;
    limits.connectionMemory = 20 * 1024;  // about 18 KB of headers
    limits.request = std::chrono::seconds(5);
    limits.idleSeconds = 2;
    return limits;
}

MHD_Result Send(MHD_Connection* connection, int status, MHD_Response* response, const char* type) {
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", type);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Content-Security-Policy", "default-src 'self'; img-src 'self' data:");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result SendText(MHD_Connection* connection, const ViewAnswer& answer) {
    const std::string text = answer.text + "\n";
    return Send(connection, answer.status,
                MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY),
                "text/plain; charset=utf-8");
}

MHD_Result SendFile(MHD_Connection* connection, const void* data, std::size_t size, const char* type) {
    return Send(connection, 200,
                MHD_create_response_from_buffer(size, const_cast<void*>(data), MHD_RESPMEM_PERSISTENT), type);
}

std::string Header(MHD_Connection* connection, const char* name) {
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value != nullptr ? value : "";
}

int HeaderCount(MHD_Connection* connection, const char* name) {
    struct Count {
        const char* name;
        int count;
    } count{name, 0};
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char*) {
            auto* c = static_cast<Count*>(cls);
            if (strcasecmp(key, c->name) == 0) ++c->count;
            return MHD_YES;
        },
        &count);
    return count.count;
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
bool HostNamesUs(MHD_Connection* connection, int port) {
    if (HeaderCount(connection, "Host") != 1) return false;
    const std::string host = Header(connection, "Host");
    std::string address = WebServer::LocalAddress(connection);
    if (address.rfind("::ffff:", 0) == 0) address = address.substr(7);
    std::vector<std::string> names{address.find(':') != std::string::npos ? "[" + address + "]" : address};
    if (IsLoopback(address)) names.push_back("localhost");
    const std::string suffix = ":" + std::to_string(port);
    for (const std::string& name : names) {
        if (host == name + suffix || (port == 80 && host == name)) return true;
    }
    return false;
}

// A plain name in the folder `view` started in: no separators, no dots first.
bool PlainRecordingName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name[0] == '.') return false;
    for (unsigned char c : name) {
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
    }
    return Recording::FormatOf(name) != Recording::Format::None;
}

struct Control {
    const char* path;
    ViewRequest::Kind kind;
};
constexpr Control kControls[] = {
    {"/api/set-null", ViewRequest::Kind::SetNull},
    {"/api/set-north", ViewRequest::Kind::SetNorth},
    {"/api/jumping", ViewRequest::Kind::Jumping},
    {"/api/uneven-terrain", ViewRequest::Kind::UnevenTerrain},
    {"/api/ignore-floor", ViewRequest::Kind::IgnoreFloor},
    {"/api/record/start", ViewRequest::Kind::RecordStart},
    {"/api/record/stop", ViewRequest::Kind::RecordStop},
};

const Control* FindControl(const std::string& path) {
    for (const Control& control : kControls) {
        if (path == control.path) return &control;
    }
    return nullptr;
}

// The control's request from its form; "" or why it is refused.
std::string ToRequest(ViewRequest::Kind kind, const FormFields& fields, const std::vector<int>& suits,
                      ViewRequest* request) {
    using Kind = ViewRequest::Kind;
    request->kind = kind;
    if (kind == Kind::RecordStop) return "";
    if (kind == Kind::RecordStart) {
        return OneField(fields, "file", &request->file) && PlainRecordingName(request->file)
                   ? ""
                   : "a recording is a plain file name ending in .bvh or .csv (letters, digits, - _ .)";
    }
    std::string suit, mode;
    if (!OneField(fields, "suit", &suit)) return "give one suit: an index or all";
    if (suit != "all") {
        const auto it = std::find_if(suits.begin(), suits.end(), [&](int s) { return std::to_string(s) == suit; });
        if (it == suits.end()) return "no suit '" + suit + "' in this view";
        request->suit = *it;
    }
    if (kind == Kind::Jumping || kind == Kind::UnevenTerrain || kind == Kind::IgnoreFloor) {
        if (!OneField(fields, "mode", &mode) || (mode != "on" && mode != "off")) return "mode must be on or off";
        request->on = mode == "on";
    }
    return "";
}

}  // namespace

// One request, from its headers to its answer.
struct ViewServer::Exchange {
    explicit Exchange(MHD_Connection* connection) : connection(connection) {}
    MHD_Connection* connection;
    const Control* control = nullptr;
    std::string body;
    RequestQueue::Ticket ticket;
    ViewAnswer answer;
};

struct ViewServer::Impl {
    explicit Impl(ViewServer& server) : server(server), web(ViewLimits()), streams(server.feed_, kMaxStreams) {}

    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                                const char*, const char* upload, std::size_t* uploadSize, void** state) {
        return static_cast<Impl*>(self)->Handle(connection, url, method, upload, uploadSize, state);
    }
    MHD_Result Handle(MHD_Connection* connection, const std::string& path, const std::string& method,
                      const char* upload, std::size_t* uploadSize, void** state);
    // Status 200 when the request's headers pass every check, or the refusal.
    ViewAnswer Admit(Exchange& exchange, const std::string& path, const std::string& method);
    MHD_Result Get(MHD_Connection* connection, const std::string& path);
    MHD_Result Answer(Exchange& exchange, const ViewAnswer& answer) {
        WebServer::Arrived(exchange.connection);
        return SendText(exchange.connection, answer);
    }
    // On the server's thread: resumes the controls that have their answer.
    void Tick();

    ViewServer& server;
    WebServer web;
    FrameStreams streams;
    std::string three, orbitControls;
    std::vector<int> suits;
    int port = 0;
    std::unordered_set<Exchange*> waiting;  // suspended until their answer
};

ViewAnswer ViewServer::Impl::Admit(Exchange& exchange, const std::string& path, const std::string& method) {
    MHD_Connection* connection = exchange.connection;
    if (!HostNamesUs(connection, port)) return {403, "the Host header does not name this server"};
    const bool control = path.rfind("/api/", 0) == 0;
    if (control ? method != "POST" : method != "GET" && method != "HEAD") {
        return {405, control ? "controls take POST" : "only GET here"};
    }
    if (!control) return {200, ""};
    if (HeaderCount(connection, "Origin") != 1 ||
        Header(connection, "Origin") != "http://" + Header(connection, "Host")) {
        return {403, "controls are taken only from this server's own page"};
    }
    const std::string type = Header(connection, "Content-Type");
    if (!type.empty() && !IsFormType(type)) {
        return {415, "controls take form fields (application/x-www-form-urlencoded)"};
    }
    exchange.control = FindControl(path);
    if (exchange.control == nullptr) return {404, "no such control"};
    const std::string length = Header(connection, "Content-Length");
    if (length.empty() && strcasecmp(Header(connection, "Transfer-Encoding").c_str(), "chunked") != 0) {
        return {411, "a control needs a Content-Length"};
    }
    if (!length.empty() && (length.size() > 6 || std::stoul("0" + length) > kMaxBody)) {
        return {413, "a control's fields take at most " + std::to_string(kMaxBody) + " bytes"};
    }
    return {200, ""};
}

MHD_Result ViewServer::Impl::Get(MHD_Connection* connection, const std::string& path) {
    for (std::size_t i = 0; i < kViewPageCount; ++i) {
        const ViewPageFile& file = kViewPage[i];
        if (path == file.path) return SendFile(connection, file.data, file.size, file.type);
    }
    if (path == "/three/three.min.js") return SendFile(connection, three.data(), three.size(), "text/javascript");
    if (path == "/three/OrbitControls.js") {
        return SendFile(connection, orbitControls.data(), orbitControls.size(), "text/javascript");
    }
    if (path == "/events") {
        MHD_Response* stream = streams.Open(connection);
        if (stream == nullptr) return SendText(connection, {503, "too many frame streams open"});
        return Send(connection, 200, stream, "text/event-stream");
    }
    return SendText(connection, {404, "no such page"});
}

MHD_Result ViewServer::Impl::Handle(MHD_Connection* connection, const std::string& path, const std::string& method,
                                    const char* upload, std::size_t* uploadSize, void** state) {
    auto* exchange = static_cast<Exchange*>(*state);
    if (exchange == nullptr) {  // the headers are in
        exchange = new Exchange(connection);
        *state = exchange;
        const ViewAnswer refusal = Admit(*exchange, path, method);
        if (refusal.status != 200) return Answer(*exchange, refusal);
        if (exchange->control != nullptr) return MHD_YES;  // its body next
        WebServer::Arrived(connection);
        return Get(connection, path);
    }
    if (*uploadSize > 0) {
        // Only a chunked body gets here too long (a long Content-Length got
        // 413 at once); the library answers nothing in the middle of a
        // body, so the connection is closed.
        if (exchange->body.size() + *uploadSize > kMaxBody) return MHD_NO;
        exchange->body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (exchange->ticket) return Answer(*exchange, exchange->answer);  // resumed with it
    WebServer::Arrived(connection);
    ViewRequest request;
    ViewAnswer refusal{400, ToRequest(exchange->control->kind, ParseForm(exchange->body), suits, &request)};
    if (!refusal.text.empty()) return Answer(*exchange, refusal);
    // Two frames at the slowest rate, or two seconds, whichever is longer.
    const auto timeout = std::chrono::milliseconds(static_cast<long>(std::max(2000.0, 2000.0 / server.options_.rate)));
    exchange->ticket = server.requests_.Submit(request, RequestQueue::Clock::now() + timeout, &refusal);
    if (!exchange->ticket) return Answer(*exchange, refusal);
    waiting.insert(exchange);
    MHD_suspend_connection(connection);
    return MHD_YES;
}

void ViewServer::Impl::Tick() {
    streams.Tick();
    const auto now = RequestQueue::Clock::now();
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (server.requests_.Answered((*it)->ticket, now, &(*it)->answer)) {
            MHD_resume_connection((*it)->connection);
            it = waiting.erase(it);
        } else {
            ++it;
        }
    }
}

ViewServer::ViewServer(Options options)
    : options_(std::move(options)),
      requests_(kQueuedRequests, [this] { impl_->web.Wake(); }),
      impl_(std::make_unique<Impl>(*this)) {}

ViewServer::~ViewServer() { Stop(); }

int ViewServer::Port() const { return impl_->port; }

bool ViewServer::Open() const { return !IsLoopback(options_.listen); }

void ViewServer::Publish(std::shared_ptr<const ViewFrame> frame) {
    feed_.Publish(std::move(frame));
    impl_->web.Wake();
}

void ViewServer::Bind() {
    const std::string dir = options_.threeDir.empty() ? KX_THREE_DIR : options_.threeDir;
    impl_->three = ReadFile(dir + "/three.min.js");
    impl_->orbitControls = ReadFile(dir + "/examples/js/controls/OrbitControls.js");
    if (impl_->three.empty() || impl_->orbitControls.empty()) {
        throw Failure(kExitFailure, "three.js not found in " + dir +
                                        " (three.min.js and examples/js/controls/OrbitControls.js;"
                                        " Debian: libjs-three)");
    }
    impl_->port = impl_->web.Bind(options_.listen, options_.port);
}

void ViewServer::Serve(const std::vector<int>& suits) {
    Impl& impl = *impl_;
    impl.suits = suits;
    impl.streams.Greeting(HelloEvent(suits, options_.rate));
    impl.web.Start({&Impl::OnRequest, &impl, [](void* state) { delete static_cast<Exchange*>(state); },
                    [&impl] { impl.Tick(); },
                    [&impl] {
                        for (Exchange* exchange : impl.waiting) MHD_resume_connection(exchange->connection);
                        impl.waiting.clear();
                        impl.streams.ResumeAll();
                    }});
}

void ViewServer::Stop() {
    feed_.Close();
    requests_.Close();
    impl_->web.Stop(kGrace);
}

}  // namespace kxhost
