// Everything the page is sent, as JSON: the greeting of a frame stream,
// each frame (ViewFrame::Event), and the state of a recording made from the
// page.
#pragma once

#include <string>
#include <vector>

namespace kxhost {

// The stream's first event: the rate, the suits and the skeleton.
std::string HelloEvent(const std::vector<int>& suits, double rate);
// The recording under way: its files and the frames written so far.
std::string RecordingJson(const std::vector<std::string>& files, long frames);
// A recording that failed, and why.
std::string RecordingErrorJson(const std::string& message);

}  // namespace kxhost
