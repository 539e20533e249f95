#include "app/osc/OscSender.h"

#include "app/base/Failure.h"
#include "app/osc/VmcPose.h"

#include <lo/lo.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

namespace kxhost {
namespace {

constexpr long kMaxPort = 65535;

struct Target {
    sockaddr_storage address;
    socklen_t length;
    int socket;
    bool failed;  // reported once; later failures are not
};

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it is,
// so that it is found equal to that address and sent over IPv4.
void Unmap(Target* target) {
    if (target->address.ss_family != AF_INET6) return;
    const auto v6 = *reinterpret_cast<const sockaddr_in6*>(&target->address);
    if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) return;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = v6.sin6_port;
    std::memcpy(&v4.sin_addr, &v6.sin6_addr.s6_addr[12], 4);
    std::memset(&target->address, 0, sizeof target->address);
    std::memcpy(&target->address, &v4, sizeof v4);
    target->length = sizeof v4;
}

// HOST:PORT, the host resolved; "" or what is wrong with `text`.
std::string Resolve(const std::string& text, int flags, addrinfo** found, long* port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return "must be HOST:PORT, such as 127.0.0.1:39539, not '" + text + "'";
    }
    std::string host = text.substr(0, colon);
    const std::string portText = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    errno = 0;
    char* end = nullptr;
    *port = std::strtol(portText.c_str(), &end, 10);
    if (portText.empty() || errno != 0 || *end != '\0' || *port < 1 || *port > kMaxPort) {
        return "the port of '" + text + "' must be a whole number from 1 to 65535";
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    if (getaddrinfo(host.c_str(), nullptr, &hints, found) != 0) return "cannot find the host '" + host + "'";
    return "";
}

// IPv4 first: receivers commonly listen on IPv4 only, and "localhost" may
// list ::1 before 127.0.0.1.
const addrinfo* Preferred(const addrinfo* found) {
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET) return a;
    }
    return found;
}

std::string NumericText(const sockaddr* address, socklen_t length, long port) {
    char host[NI_MAXHOST];
    if (getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "?";
    const std::string text = address->sa_family == AF_INET6 ? "[" + std::string(host) + "]" : host;
    return text + ":" + std::to_string(port);
}

void SetPort(sockaddr_storage* address, long port) {
    const auto network = htons(static_cast<std::uint16_t>(port));
    if (address->ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(address)->sin6_port = network;
    } else {
        reinterpret_cast<sockaddr_in*>(address)->sin_port = network;
    }
}

void AddTransform(lo_bundle bundle, const char* path, const char* name, const VmcTransform& transform) {
    lo_message message = lo_message_new();
    lo_message_add_string(message, name);
    for (float p : transform.position) lo_message_add_float(message, p);
    for (float q : transform.rotation) lo_message_add_float(message, q);
    lo_bundle_add_message(bundle, path, message);
}

// One frame as one bundle, for a receiver to take whole; time-tagged
// "immediately", so that no receiver holds it back for a clock of its own.
std::size_t Encode(const Frame& frame, float seconds, std::vector<unsigned char>* packet) {
    const VmcPose pose = ToVmc(frame);
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    AddTransform(bundle, "/VMC/Ext/Root/Pos", "root", pose.root);
    for (int j = 0; j < kJointCount; ++j) AddTransform(bundle, "/VMC/Ext/Bone/Pos", VmcBoneNames()[j], pose.bones[j]);
    lo_message loaded = lo_message_new();
    lo_message_add_int32(loaded, 1);
    lo_bundle_add_message(bundle, "/VMC/Ext/OK", loaded);
    lo_message time = lo_message_new();
    lo_message_add_float(time, seconds);
    lo_bundle_add_message(bundle, "/VMC/Ext/T", time);
    std::size_t size = lo_bundle_length(bundle);
    packet->resize(size);
    lo_bundle_serialise(bundle, packet->data(), &size);
    lo_bundle_free_recursive(bundle);
    return size;
}

}  // namespace

struct OscSender::Impl {
    ~Impl() {
        for (int s : sockets) {
            if (s >= 0) close(s);
        }
    }
    int Socket(int family) {
        int& s = sockets[family == AF_INET6 ? 1 : 0];
        if (s >= 0) return s;
        s = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) throw Failure(kExitFailure, std::string("cannot open a UDP socket: ") + std::strerror(errno));
        // Broadcast addresses (255.255.255.255, a subnet's last) are sent
        // to as any other: the system refuses them without this.
        const int yes = 1;
        if (family == AF_INET) setsockopt(s, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
        return s;
    }

    int sockets[2] = {-1, -1};  // IPv4, IPv6
    std::vector<std::vector<Target>> targets;  // per frame of Send, one per destination
    double rate = 0;
    long sent = 0;  // frames, for the time each bundle carries
    std::vector<unsigned char> packet;
    std::string description;
};

bool OscSender::Available() { return true; }

std::string OscSender::CheckDestination(std::string& text) {
    addrinfo* found = nullptr;
    long port = 0;
    const std::string error = Resolve(text, 0, &found, &port);
    if (!error.empty()) return error;
    const addrinfo* chosen = Preferred(found);
    text = NumericText(chosen->ai_addr, chosen->ai_addrlen, port);
    freeaddrinfo(found);
    return "";
}

OscSender::OscSender(const std::vector<std::string>& destinations, const std::vector<int>& suits, double rate) {
    if (destinations.empty()) return;
    impl_ = std::make_unique<Impl>();
    impl_->rate = rate;
    impl_->targets.resize(suits.size());
    std::map<std::string, int> taken;  // address: suit
    std::vector<std::string> sentTo(suits.size());
    for (const std::string& destination : destinations) {
        addrinfo* found = nullptr;
        long base = 0;
        const std::string error = Resolve(destination, AI_NUMERICHOST, &found, &base);
        if (!error.empty()) throw Failure(kExitUsage, "--osc: " + error);
        Target target{};
        std::memcpy(&target.address, found->ai_addr, found->ai_addrlen);
        target.length = found->ai_addrlen;
        freeaddrinfo(found);
        Unmap(&target);
        target.socket = impl_->Socket(target.address.ss_family);
        for (std::size_t i = 0; i < suits.size(); ++i) {
            const long port = base + suits[i];
            if (port > kMaxPort) {
                throw Failure(kExitUsage, "--osc " + destination + ": suit " + std::to_string(suits[i]) +
                                              " would need port " + std::to_string(port) + ", past 65535");
            }
            SetPort(&target.address, port);
            const std::string address =
                NumericText(reinterpret_cast<const sockaddr*>(&target.address), target.length, port);
            const auto seen = taken.emplace(address, suits[i]);
            if (!seen.second) {
                throw Failure(kExitUsage, seen.first->second == suits[i]
                                              ? "--osc: " + destination + " is given twice"
                                              : "--osc: suits " + std::to_string(seen.first->second) + " and " +
                                                    std::to_string(suits[i]) + " would both go to " + address);
            }
            impl_->targets[i].push_back(target);
            sentTo[i] += (sentTo[i].empty() ? "" : " and ") + address;
        }
    }
    for (std::size_t i = 0; i < suits.size(); ++i) {
        impl_->description += impl_->description.empty() ? "Sending VMC over OSC: suit " : "; suit ";
        impl_->description += std::to_string(suits[i]) + " to " + sentTo[i];
    }
}

OscSender::~OscSender() = default;

std::vector<std::string> OscSender::Send(const std::vector<Frame>& frames) {
    std::vector<std::string> failures;
    if (!impl_) return failures;
    const float seconds = static_cast<float>(impl_->sent++ / impl_->rate);
    const std::size_t count = std::min(frames.size(), impl_->targets.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = Encode(frames[i], seconds, &impl_->packet);
        for (Target& target : impl_->targets[i]) {
            // Refused, unreachable or a full buffer: this frame is lost to
            // this destination, and the next one comes a tick later.
            if (sendto(target.socket, impl_->packet.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&target.address), target.length) >= 0 ||
                target.failed) {
                continue;
            }
            target.failed = true;
            const long port = ntohs(target.address.ss_family == AF_INET6
                                        ? reinterpret_cast<const sockaddr_in6*>(&target.address)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(&target.address)->sin_port);
            failures.push_back("cannot send OSC to " +
                               NumericText(reinterpret_cast<const sockaddr*>(&target.address), target.length, port) +
                               ": " + std::strerror(errno) + " (said once; frames to it are lost)");
        }
    }
    return failures;
}

std::string OscSender::Description() const { return impl_ ? impl_->description : ""; }

}  // namespace kxhost
