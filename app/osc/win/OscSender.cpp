// The Windows program: Debian has no Windows build of liblo, so it sends no
// OSC and says so.
#include "app/osc/OscSender.h"

#include "app/base/Failure.h"

namespace kxhost {

struct OscSender::Impl {};

bool OscSender::Available() { return false; }

std::string OscSender::CheckDestination(std::string&) {
    return "OSC streaming is Linux only; this Windows program cannot send it";
}

OscSender::OscSender(const std::vector<std::string>& destinations, const std::vector<int>&, double) {
    if (!destinations.empty()) throw Failure(kExitUsage, "--osc: OSC streaming is Linux only");
}

OscSender::~OscSender() = default;

std::vector<std::string> OscSender::Send(const std::vector<Frame>&) { return {}; }

std::string OscSender::Description() const { return ""; }

}  // namespace kxhost
