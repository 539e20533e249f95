// The program's terminal output. On a terminal a block of lines at the
// bottom is redrawn in place; elsewhere lines are only appended. Messages
// (the plug-in's debug texts among them) appear above the block as they come.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kxhost {

class Screen {
public:
    // `live`: standard output is a terminal that moves its cursor.
    explicit Screen(bool live);
    // Stops routing the plug-in's debug texts here.
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    bool Live() const { return live_; }

    // Shows the plug-in's debug texts as messages from now on.
    void RouteDebugMessages();

    // Replaces the block (live) or appends its lines (otherwise).
    void Show(const std::vector<std::string>& lines);
    // Leaves the block as it stands; later output goes below it.
    void KeepBlock();
    // One line on standard output, above the block.
    void Print(const std::string& line);
    // One line on standard error, above the block.
    void Note(const std::string& line);

private:
    static void OnDebugText(const char* text, void* self);
    void EraseBlock();
    void DrawBlock();
    std::string Fitted(const std::string& line) const;

    const bool live_;
    const int columns_;
    std::mutex lock_;
    std::vector<std::string> block_;
    bool drawn_ = false;
    bool routed_ = false;
};

}  // namespace kxhost
