// `kestrion-host info`: the channel type, its dependencies and its command
// catalogue, as the plug-in gives them.
#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "host/Orv_List.h"

#include <cstdio>

namespace kxhost {
namespace {

std::string GuidText(const OrvGuid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

}  // namespace

int HostProgram::Info() {
    LoadPlugin();
    const ChannelType* type = plugin_.GetType();
    std::printf("library  %s\n", loadedPath_.c_str());
    std::printf("channel type\n");
    std::printf("  name        %.79s\n", type->typeName);
    std::printf("  type GUID   %s\n", GuidText(type->typeGuid).c_str());
    std::printf("  class GUID  %s\n", GuidText(type->classGuid).c_str());
    std::printf("  flags       device channel %ld (at 120), user creatable %ld (at 124), options 0x%08lX (at 128)\n",
                static_cast<long>(type->deviceChannel), static_cast<long>(type->userCreatable),
                static_cast<unsigned long>(type->options));

    Orv_List dependencies;
    plugin_.NewChannel()->Base()->DoDependencyInit(&dependencies);
    std::printf("dependencies\n");
    for (int i = 0; i < dependencies.Count(); ++i) std::printf("  %s\n", dependencies.At(i).c_str());

    std::printf("commands\n");
    for (const Command& command : plugin_.Commands()) {
        std::printf("  %d  %s\n", command.id, command.name.c_str());
        std::size_t start = 0;
        while (start < command.description.size()) {
            std::size_t end = command.description.find('\n', start);
            if (end == std::string::npos) end = command.description.size();
            std::printf("       %s\n", command.description.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace kxhost
