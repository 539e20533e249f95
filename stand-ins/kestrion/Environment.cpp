#include "kestrion/Environment.h"

#include "kestrion/replay/Quoted.h"
#include "kestrion/replay/Replay.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace kestrion {
namespace {

bool ParseInt(const std::string& text, long lo, long hi, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

// An empty value counts as unset, as it does for `NAME= program`.
const char* Get(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && v[0] != '\0' ? v : nullptr;
}

// SUIT:KIND:AFTER, as "1:spin:40".
bool ReadHang(const char* value, EnvironmentSettings* s, std::string* error) {
    using KestrionSim::Hang;
    const std::string text(value);
    const std::size_t first = text.find(':'), second = text.find(':', first == std::string::npos ? 0 : first + 1);
    const std::string kind = second == std::string::npos ? "" : text.substr(first + 1, second - first - 1);
    const struct {
        const char* name;
        Hang how;
    } kinds[] = {{"wait", Hang::Wait}, {"spin", Hang::Spin}, {"mutex", Hang::Mutex}, {"pipe", Hang::Pipe}};
    bool known = false;
    for (const auto& k : kinds) {
        if (kind == k.name) {
            s->hangHow = k.how;
            known = true;
        }
    }
    if (!known || !ParseInt(text.substr(0, first), 0, 1023, &s->hangSuit) ||
        !ParseInt(text.substr(second + 1), 0, 1000000000, &s->hangAfter)) {
        *error = "KESTRION_SIM_HANG must be SUIT:KIND:AFTER (KIND wait, spin, mutex or pipe; AFTER the good reads "
                 "before), not " + Quoted(text);
        s->hangSuit = -1;
        return false;
    }
    return true;
}

// One suit per file, or per suit of a CSV recording, unless the suits are
// counted. The names are counted before a file is read.
bool ReadReplays(const std::string& list, bool counted, EnvironmentSettings* s, std::string* error) {
    constexpr int kMaxSuits = 1024;
    const std::size_t suits = std::size_t(counted ? std::max(s->suits, 0) : kMaxSuits);
    std::vector<std::string> paths;
    if (!SplitReplayList(list, &paths)) {
        *error = "KESTRION_SIM_REPLAY must name BVH or CSV files separated by commas, not " + Quoted(list);
        return false;
    }
    if (paths.size() > suits) {
        *error = "KESTRION_SIM_REPLAY names " + std::to_string(paths.size()) + " files for " + std::to_string(suits) +
                 " suits";
        return false;
    }
    ReplayBudget budget;
    for (const std::string& path : paths) {
        std::string why;
        if (!LoadReplayFile(path, &budget, &s->replays, &why)) {
            *error = "KESTRION_SIM_REPLAY: " + why;
            return false;
        }
    }
    if (s->replays.size() > suits) {
        *error = "KESTRION_SIM_REPLAY's files hold the motion of " + std::to_string(s->replays.size()) +
                 " suits, for " + std::to_string(suits) + " suits";
        return false;
    }
    if (!counted) s->suits = int(s->replays.size());
    return true;
}

}  // namespace

bool ReadEnvironment(EnvironmentSettings* s, std::string* error) {
    *s = EnvironmentSettings();
    if (const char* v = Get("KESTRION_SIM_SUITS")) {
        if (!ParseInt(v, -1024, 1024, &s->suits)) {
            *error = "KESTRION_SIM_SUITS must be a whole number from -1024 to 1024, not " + Quoted(v);
            return false;
        }
    }
    if (const char* v = Get("KESTRION_SIM_INIT")) {
        const std::string mode(v);
        if (mode == "fail") {
            s->initFails = true;
        } else if (mode != "ok") {
            *error = "KESTRION_SIM_INIT must be 'ok' or 'fail', not " + Quoted(mode);
            return false;
        }
    }
    if (const char* v = Get("KESTRION_SIM_NO_OPEN")) {
        const std::string list(v);
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = list.find(',', start);
            const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                                    : comma - start);
            int suit = 0;
            if (!ParseInt(item, 0, 1023, &suit)) {
                *error = "KESTRION_SIM_NO_OPEN must list suit indices from 0 to 1023 separated by "
                         "commas, not " + Quoted(list);
                return false;
            }
            s->noOpen.insert(suit);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    if (const char* v = Get("KESTRION_SIM_CALL_LOG")) s->callLog = v;
    if (const char* v = Get("KESTRION_SIM_REPLAY")) {
        if (!ReadReplays(v, Get("KESTRION_SIM_SUITS") != nullptr, s, error)) return false;
    }
    if (const char* v = Get("KESTRION_SIM_READ_MS")) {
        if (!ParseInt(v, 0, 1000, &s->readMs)) {
            *error = "KESTRION_SIM_READ_MS must be a whole number of milliseconds from 0 to 1000, not " + Quoted(v);
            return false;
        }
    }
    if (const char* v = Get("KESTRION_SIM_HANG")) {
        if (!ReadHang(v, s, error)) return false;
    }
    return true;
}

}  // namespace kestrion
