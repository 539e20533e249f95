#include "app/terminal/Screen.h"

#include "app/platform/Console.h"
#include "app/platform/Interrupt.h"
#include "host/EngineInterface.h"

#include <cerrno>
#include <cstdio>

namespace kxhost {
namespace {

// A reader that went away ends the run, as SIGPIPE would have.
void Flush(std::FILE* stream) {
    if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return;
    if (errno == EPIPE) kx::OutputClosed();
    std::clearerr(stream);
}

}  // namespace

Screen::Screen(bool live) : live_(live), columns_(live ? kx::TerminalColumns() : 0) {}

Screen::~Screen() {
    if (routed_) OrvSetDebugSink(nullptr, nullptr);
}

void Screen::RouteDebugMessages() {
    OrvSetDebugSink(&Screen::OnDebugText, this);
    routed_ = true;
}

void Screen::OnDebugText(const char* text, void* self) {
    static_cast<Screen*>(self)->Note(std::string("plug-in: ") + text);
}

void Screen::Show(const std::vector<std::string>& lines) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!live_) {
        for (const std::string& line : lines) std::fprintf(stdout, "%s\n", line.c_str());
        Flush(stdout);
        return;
    }
    // Overwrite line by line rather than erase first: no flicker.
    if (drawn_ && !block_.empty()) std::fprintf(stdout, "\x1b[%dA\r", static_cast<int>(block_.size()));
    for (const std::string& line : lines) std::fprintf(stdout, "%s\x1b[K\n", Fitted(line).c_str());
    if (lines.size() < block_.size()) std::fputs("\x1b[J", stdout);
    Flush(stdout);
    block_ = lines;
    drawn_ = true;
}

void Screen::KeepBlock() {
    std::lock_guard<std::mutex> guard(lock_);
    block_.clear();
    drawn_ = false;
}

void Screen::Print(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    EraseBlock();
    // From the line's start, over a "^C" the terminal may have echoed.
    std::fprintf(stdout, live_ ? "\r%s\x1b[K\n" : "%s\n", line.c_str());
    Flush(stdout);
    DrawBlock();
}

void Screen::Note(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    EraseBlock();
    std::fprintf(stderr, "%s\n", line.c_str());
    Flush(stderr);
    DrawBlock();
}

void Screen::EraseBlock() {
    if (!live_ || !drawn_ || block_.empty()) return;
    std::fprintf(stdout, "\x1b[%dA\r\x1b[J", static_cast<int>(block_.size()));
    Flush(stdout);
}

void Screen::DrawBlock() {
    if (!live_ || !drawn_) return;
    for (const std::string& line : block_) std::fprintf(stdout, "%s\x1b[K\n", Fitted(line).c_str());
    Flush(stdout);
}

// A line that wraps would throw the cursor arithmetic off.
std::string Screen::Fitted(const std::string& line) const {
    if (columns_ <= 1 || line.size() < static_cast<std::size_t>(columns_)) return line;
    return line.substr(0, static_cast<std::size_t>(columns_) - 1);
}

}  // namespace kxhost
