#include "host/Orv_Channel.h"

#include "host/OrvFileLoader.h"
#include "host/OrvFileSaver.h"
#include "host/Orv_List.h"

#include <atomic>
#include <cstring>

namespace {

// A saved channel: this tag, then name, interface type and time stamp.
const char kChannelTag[8] = {'T', 'S', 'R', 'L', 'C', 'H', 'N', '1'};
const std::size_t kMaxName = 4096;

std::atomic<unsigned long> stampClock{0};

}  // namespace

Orv_Channel::Orv_Channel() = default;

// A copy carries the source's state; its own name changes start from zero.
Orv_Channel::Orv_Channel(const Orv_Channel& other)
    : name_(other.name_),
      interfaceType_(other.interfaceType_),
      timeStamp_(other.timeStamp_),
      group_(other.group_) {}

Orv_Channel& Orv_Channel::operator=(const Orv_Channel& other) {
    name_ = other.name_;
    interfaceType_ = other.interfaceType_;
    timeStamp_ = other.timeStamp_;
    group_ = other.group_;
    return *this;
}

Orv_Channel::~Orv_Channel() = default;

void Orv_Channel::CallChannel() {}

void Orv_Channel::OneTimeInitialize() {}

void Orv_Channel::DoEvent(int, unsigned long) {}

ChannelType Orv_Channel::GetChannelType() { return ChannelType(); }

bool Orv_Channel::SaveChannel(OrvFileSaver& saver) {
    return saver.WriteBytes(kChannelTag, sizeof kChannelTag) && saver.WriteString(name_) &&
           saver.WriteU32(static_cast<std::uint32_t>(interfaceType_)) &&
           saver.WriteU32(static_cast<std::uint32_t>(timeStamp_));
}

bool Orv_Channel::LoadChannel(OrvFileLoader& loader, Orv_ChannelGroup* group) {
    char tag[sizeof kChannelTag];
    std::string name;
    std::uint32_t type = 0, stamp = 0;
    if (!loader.ReadBytes(tag, sizeof tag) || std::memcmp(tag, kChannelTag, sizeof tag) != 0 ||
        !loader.ReadString(&name, kMaxName) || !loader.ReadU32(&type) || !loader.ReadU32(&stamp)) {
        return false;
    }
    name_ = name;
    interfaceType_ = static_cast<int>(type);
    timeStamp_ = stamp;
    group_ = group;
    return true;
}

void Orv_Channel::SetChannelInterfaceType(int type) { interfaceType_ = type; }

Orv_Channel* Orv_Channel::GetChannelFromChannel(Orv_Channel*, ChildInfo*) { return nullptr; }

unsigned long Orv_Channel::GetTimeStamp() { return timeStamp_; }

void Orv_Channel::SetTimeStamp() { timeStamp_ = ++stampClock; }

void Orv_Channel::DoDependencyInit(Orv_List*) {}

void Orv_Channel::CheckIndexNrRemoval(int) {}

Orv_Channel* Orv_Channel::GetInternalChild(int) { return nullptr; }

void Orv_Channel::CheckPublicChannelInstanceRemoval(Orv_Channel*, int) {}

void Orv_Channel::AddMetaData(OrvFileSaver&) {}

void Orv_Channel::SetChannelGroup(Orv_ChannelGroup* group) { group_ = group; }

ChannelFeedback* Orv_Channel::GetFeedbackClass() { return nullptr; }

void Orv_Channel::SetChannelName(const char* name) {
    name_ = name != nullptr ? name : "";
    ++nameChanges_;
}

void Orv_Channel::AddDLLDepend(const char* file, Orv_List* list) {
    if (list != nullptr) list->Add(file);
}

const std::string& Orv_Channel::GetChannelName() const { return name_; }

int Orv_Channel::GetChannelInterfaceType() const { return interfaceType_; }

Orv_ChannelGroup* Orv_Channel::GetChannelGroup() const { return group_; }

int Orv_Channel::GetNameChanges() const { return nameChanges_; }
