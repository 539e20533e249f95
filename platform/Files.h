// The file operations that finish a recording safely: data on disk before
// the file gets its name, and a name that appears whole or not at all.
#pragma once

#include <cstdio>
#include <string>

namespace kx {

// Flushes `file` and asks the system to write it to the disk.
bool FlushToDisk(std::FILE* file);

enum class MoveResult { Moved, TargetExists, Failed };

// Renames `from` to `to` in one step. Without `replace`, gives TargetExists
// when `to` exists, even when it appeared a moment ago. `error` holds the
// system's reason for Failed.
MoveResult MoveFileTo(const std::string& from, const std::string& to, bool replace, std::string* error);

// This process's id, to keep temporary names of concurrent runs apart.
unsigned long ProcessId();

}  // namespace kx
