// Named mutexes shared with other processes of the user: a file in
// /dev/shm under each name, holding a process-shared robust recursive mutex
// (checked before it is trusted: this user's, mode 0600, of our layout).
#pragma once

#include <pthread.h>

#include <cstdint>
#include <string>

namespace kx {

// The file under a shared mutex's name: a header that says it is ours and
// of this layout, then the mutex.
struct SharedFile {
    static constexpr std::uint32_t kMagic = 0x584D584Bu;  // "KXMX"
    static constexpr std::uint32_t kVersion = 1;
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t mutexSize;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

// A shared mapping of one named mutex.
struct SharedMapping {
    int fd = -1;
    SharedFile* file = nullptr;
    std::string path;
};

// The layer's kind of mutex, shared between processes or not.
bool InitRobustRecursive(pthread_mutex_t* m, bool processShared);

std::string SharedPath(const std::string& name);
// Opens the shared mutex of `path`, creating it when absent; false with the
// reason when the name cannot be shared.
bool OpenShared(const std::string& path, SharedMapping* out, std::string* why);
// Gives up this process's use of the name (unmapping it unless told not
// to), and removes the name when no other user is left.
void CloseShared(SharedMapping& s, bool unmap);
// The one message of a name that stays within the process, where a Windows
// program would see it in its debug output.
void SayNotShared(const std::string& name, const std::string& why);

}  // namespace kx
