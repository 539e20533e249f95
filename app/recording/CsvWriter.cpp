#include "app/recording/CsvWriter.h"

#include "driver/Skeleton.h"

#include <string>

namespace kxhost {

bool CsvWriter::Begin() {
    std::string header;
    for (std::size_t i = 0; i < kCsvColumns; ++i) header.append(i == 0 ? "" : ",").append(CsvColumn(i));
    header.push_back('\n');
    return std::fputs(header.c_str(), file_) >= 0;
}

bool CsvWriter::Add(long frameNumber, double seconds, int suit, const Frame& frame) {
    std::string row;
    row.reserve(512);
    char number[64];
    std::snprintf(number, sizeof number, "%ld,%.4f,%d", frameNumber, seconds, suit);
    row.append(number);
    auto value = [&](float v) {
        std::snprintf(number, sizeof number, ",%.3f", v);
        row.append(number);
    };
    value(frame.position.x);
    value(frame.position.y);
    value(frame.position.z);
    for (const Vector& r : frame.rotations) {
        value(r.x);
        value(r.y);
        value(r.z);
    }
    row.push_back('\n');
    return std::fputs(row.c_str(), file_) >= 0;
}

}  // namespace kxhost
