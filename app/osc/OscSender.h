// Sends the suits' frames live to other programs in the VMC protocol: one
// OSC bundle per suit and frame, over UDP, to every destination. Suit k goes
// to each destination's port + k, so that every suit is an avatar of its own.
#pragma once

#include "driver/Frame.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kxhost {

class OscSender {
public:
    // False where liblo is missing (the Windows program): no OSC at all.
    static bool Available();
    // Checks one --osc value, HOST:PORT: a port from 1 to 65535 and a host
    // that resolves. On success returns "" and rewrites `text` as the
    // numeric address ("127.0.0.1:39539"), so the name is looked up once.
    static std::string CheckDestination(std::string& text);

    // `destinations`: values checked as above. `suits`: the suit index of
    // each frame Send gets. Throws Failure (kExitUsage) when a suit's port
    // would pass 65535 or two suits would meet at one address (an
    // IPv4-mapped IPv6 address is the IPv4 address).
    OscSender(const std::vector<std::string>& destinations, const std::vector<int>& suits, double rate);
    ~OscSender();
    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    // One call per frame read, at the read rate. Never waits: a packet that
    // the system does not take at once is dropped, never queued or retried.
    // Returns the first failure to each destination, once.
    std::vector<std::string> Send(const std::vector<Frame>& frames);
    // "Sending suit 0 to 127.0.0.1:39539, ...", or "" without destinations.
    std::string Description() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kxhost
