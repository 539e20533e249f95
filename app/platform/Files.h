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

enum class PathKind { None, Folder, Other, Unknown };

// What is under `path` itself (a symbolic link is not followed), looking
// without opening it. None also means the folder it would go in exists;
// Unknown, with the system's reason, when it cannot be told (a name too
// long, a path through a file, a missing folder).
PathKind Examine(const std::string& path, std::string* error);

// Keeps the file `path` also under the name `aside` (a hard link); where
// the file system has no links, moves it there. TargetExists when `aside`
// is taken.
MoveResult SetAside(const std::string& path, const std::string& aside, std::string* error);

// Where the last part of `path`, the file's own name, begins.
std::size_t NameStart(const std::string& path);

// This process's id.
unsigned long ProcessId();

}  // namespace kx
