#include "kestrion/replay/CsvReader.h"

#include "driver/Skeleton.h"
#include "kestrion/replay/Quoted.h"
#include "kestrion/replay/TextScanner.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace kestrion {
namespace {

constexpr int kMaxSuit = 1023;
// As a BVH file's, and for a single frame, the suits' own pace.
constexpr double kShortestFrame = 0.0001, kLongestFrame = 10.0, kSingleFrame = 0.025;

// The fields of a line, up to kCsvColumns of them; how many there are.
std::size_t Fields(std::string_view line, std::string_view* fields) {
    std::size_t count = 0, start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ',') continue;
        std::string_view field = line.substr(start, i - start);
        while (!field.empty() && TextScanner::IsBlank(field.front())) field.remove_prefix(1);
        while (!field.empty() && TextScanner::IsBlank(field.back())) field.remove_suffix(1);
        if (count < kCsvColumns) fields[count] = field;
        ++count;
        start = i + 1;
    }
    return count;
}

class Rows {
public:
    Rows(std::vector<CsvTake>* takes, std::string* reason) : takes_(*takes), reason_(*reason) {}

    bool Header(std::string_view line) {
        std::string_view fields[kCsvColumns];
        const std::size_t count = Fields(line, fields);
        for (std::size_t i = 0; i < kCsvColumns && i < count; ++i) {
            if (fields[i] != CsvColumn(i)) {
                return Fail("not a CSV recording of ours: column " + std::to_string(i + 1) + " is " +
                            Quoted(fields[i]) + ", not '" + CsvColumn(i) + "'");
            }
        }
        return count == kCsvColumns ||
               Fail("not a CSV recording of ours: " + std::to_string(count) + " columns, not " +
                    std::to_string(kCsvColumns));
    }

    bool Row(std::string_view line) {
        std::string_view fields[kCsvColumns];
        const std::size_t count = Fields(line, fields);
        if (count != kCsvColumns) {
            return Fail(std::to_string(count) + " values on a row, expected " + std::to_string(kCsvColumns));
        }
        double v[kCsvColumns];
        for (std::size_t i = 0; i < kCsvColumns; ++i) {
            if (!ParseNumber(fields[i], &v[i], &reason_)) return false;
        }
        if (v[0] != std::floor(v[0]) || v[0] < 0) return Fail("frame " + Quoted(fields[0]) + " is not a frame number");
        if (v[2] != std::floor(v[2]) || v[2] < 0 || v[2] > kMaxSuit) {
            return Fail("suit " + Quoted(fields[2]) + " is not a suit index from 0 to 1023");
        }
        const int suit = int(v[2]);
        if (takeOf_.empty()) takeOf_.assign(kMaxSuit + 1, -1);
        if (takeOf_[std::size_t(suit)] < 0) {
            takeOf_[std::size_t(suit)] = int(takes_.size());
            takes_.push_back(CsvTake{suit, 0, {}});
            first_.push_back({v[0], v[1]});
        }
        const std::size_t t = std::size_t(takeOf_[std::size_t(suit)]);
        CsvTake& take = takes_[t];
        const double expected = first_[t][0] + double(take.frames.size());
        if (v[0] != expected) {
            char why[96];
            std::snprintf(why, sizeof why, "suit %d's frame %.0f where its frame %.0f belongs", suit, v[0], expected);
            return Fail(why);
        }
        ReplayFrame& f = take.frames.emplace_back();
        f.position = Vector(float(v[3]), float(v[4]), float(v[5]));
        for (int j = 0; j < kJointCount; ++j) {
            f.rotations[j] = Vector(float(v[6 + 3 * j]), float(v[7 + 3 * j]), float(v[8 + 3 * j]));
        }
        last_.resize(takes_.size());
        last_[t] = v[1];
        return true;
    }

    // Each take's frame time, from its first and last rows' times.
    bool FrameTimes() {
        for (std::size_t t = 0; t < takes_.size(); ++t) {
            CsvTake& take = takes_[t];
            const std::size_t n = take.frames.size();
            take.frameSeconds = n > 1 ? (last_[t] - first_[t][1]) / double(n - 1) : kSingleFrame;
            if (!(take.frameSeconds >= kShortestFrame && take.frameSeconds <= kLongestFrame)) {
                char why[128];
                std::snprintf(why, sizeof why, "suit %d's times make a frame time of %g s; it must be from %g to %g s",
                              take.suit, take.frameSeconds, kShortestFrame, kLongestFrame);
                return Fail(why);
            }
        }
        return true;
    }

private:
    bool Fail(std::string why) {
        reason_ = std::move(why);
        return false;
    }

    std::vector<CsvTake>& takes_;
    std::string& reason_;
    std::vector<int> takeOf_;                  // by suit
    std::vector<std::array<double, 2>> first_;  // by take: frame number and time
    std::vector<double> last_;                 // by take: time
};

}  // namespace

bool ReadCsv(std::string_view text, std::size_t maxFrames, std::vector<CsvTake>* takes, std::size_t* line,
             std::string* reason) {
    takes->clear();
    TextScanner scanner(text);
    Rows rows(takes, reason);
    std::string_view row;
    std::size_t count = 0;
    bool ok = scanner.Line(&row) ? rows.Header(row) : (*reason = "no header: the file is empty", false);
    while (ok && scanner.Line(&row)) {
        if (++count > maxFrames) {
            *reason = "more than " + std::to_string(maxFrames) + " rows";
            ok = false;
        } else {
            ok = rows.Row(row);
        }
    }
    if (ok && count == 0) *reason = "no frames", ok = false;
    ok = ok && rows.FrameTimes();
    *line = scanner.LineNumber();
    return ok;
}

}  // namespace kestrion
