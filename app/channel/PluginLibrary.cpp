#include "app/channel/PluginLibrary.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace kxhost {

const char kChannelTypeName[] = "KestrionUnique";
const unsigned char kChannelTypeGuid[16] = {0x10, 0x9F, 0xC2, 0x17, 0x0A, 0xF5, 0x53, 0x4E,
                                            0xB2, 0x93, 0xEC, 0x44, 0x27, 0xBF, 0xE7, 0x16};

namespace {

// A member function's address, as a pointer to member: the Itanium ABI
// represents a non-virtual one as the address and a zero adjustment.
template <typename Member>
void AsMember(void* address, Member* member) {
    struct Representation {
        void* address;
        std::ptrdiff_t adjustment;
    } representation{address, 0};
    static_assert(sizeof(Member) == sizeof(Representation), "Itanium pointer to member");
    std::memcpy(static_cast<void*>(member), &representation, sizeof representation);
}

class Resolver {
public:
    explicit Resolver(const kx::DynamicLibrary& library) : library_(library) {}

    template <typename Target>
    void Function(const char* symbol, const char* readable, Target* target) {
        void* address = library_.Symbol(symbol);
        if (address == nullptr) {
            Missing(readable);
            return;
        }
        *target = reinterpret_cast<Target>(address);
    }

    template <typename Member>
    void MemberFunction(const char* symbol, const char* readable, Member* member) {
        void* address = library_.Symbol(symbol);
        if (address == nullptr) {
            Missing(readable);
            return;
        }
        AsMember(address, member);
    }

    const std::string& MissingNames() const { return missing_; }

private:
    void Missing(const char* readable) { missing_ += missing_.empty() ? readable : std::string(", ") + readable; }

    const kx::DynamicLibrary& library_;
    std::string missing_;
};

}  // namespace

SuitChannel::SuitChannel(Orv_Channel* channel, const ChannelOperations* operations)
    : channel_(channel), ops_(operations) {}

SuitChannel::~SuitChannel() { delete channel_; }

KestrionUnique* SuitChannel::Self() { return static_cast<KestrionUnique*>(channel_); }
void SuitChannel::Connect(int suit) { (Self()->*ops_->connect)(suit); }
void SuitChannel::Disconnect(int suit) { (Self()->*ops_->disconnect)(suit); }
void SuitChannel::Reset() { (Self()->*ops_->reset)(); }
int SuitChannel::GetNrOfSuits() { return (Self()->*ops_->getNrOfSuits)(); }
void SuitChannel::GetData(int suit, Frame& frame) { (Self()->*ops_->getData)(suit, frame); }
void SuitChannel::SetNull(int suit) { (Self()->*ops_->setNull)(suit); }
void SuitChannel::SetNorth(int suit) { (Self()->*ops_->setNorth)(suit); }
void SuitChannel::EnableUnevenTerrain(int suit, bool on) { (Self()->*ops_->enableUnevenTerrain)(suit, on); }
void SuitChannel::EnableIgnoreFloor(int suit, bool on) { (Self()->*ops_->enableIgnoreFloor)(suit, on); }
void SuitChannel::EnableJumping(int suit, bool on) { (Self()->*ops_->enabelJumping)(suit, on); }

bool PluginLibrary::Load(const std::string& path, std::string* error) {
    std::string reason;
    if (!library_.Open(path, &reason)) {
        *error = "cannot load the plug-in " + path + ": " + reason;
        return false;
    }
    Resolver r(library_);
    r.Function("GetType", "GetType", &getType_);
    r.Function("InitDLL", "InitDLL", &initDll_);
    r.MemberFunction("_ZN14KestrionUnique7ConnectEi", "KestrionUnique::Connect", &channel_.connect);
    r.MemberFunction("_ZN14KestrionUnique10DisconnectEi", "KestrionUnique::Disconnect", &channel_.disconnect);
    r.MemberFunction("_ZN14KestrionUnique5ResetEv", "KestrionUnique::Reset", &channel_.reset);
    r.MemberFunction("_ZN14KestrionUnique12GetNrOfSuitsEv", "KestrionUnique::GetNrOfSuits", &channel_.getNrOfSuits);
    r.MemberFunction("_ZN14KestrionUnique7GetDataEiR5Frame", "KestrionUnique::GetData", &channel_.getData);
    r.MemberFunction("_ZN14KestrionUnique7SetNullEi", "KestrionUnique::SetNull", &channel_.setNull);
    r.MemberFunction("_ZN14KestrionUnique8SetNorthEi", "KestrionUnique::SetNorth", &channel_.setNorth);
    r.MemberFunction("_ZN14KestrionUnique19EnableUnevenTerrainEib", "KestrionUnique::EnableUnevenTerrain",
                     &channel_.enableUnevenTerrain);
    r.MemberFunction("_ZN14KestrionUnique17EnableIgnoreFloorEib", "KestrionUnique::EnableIgnoreFloor",
                     &channel_.enableIgnoreFloor);
    r.MemberFunction("_ZN14KestrionUnique13EnabelJumpingEib", "KestrionUnique::EnabelJumping",
                     &channel_.enabelJumping);
    r.Function("_ZN15KestrionCmdTypeC1Ev", "KestrionCmdType::KestrionCmdType", &catalogue_.construct);
    r.MemberFunction("_ZN15KestrionCmdType15GetCommandTypesERSt6vectorIPS_SaIS1_EE",
                     "KestrionCmdType::GetCommandTypes", &catalogue_.getCommandTypes);
    r.MemberFunction("_ZNK15KestrionCmdType2IdEv", "KestrionCmdType::Id", &catalogue_.id);
    r.MemberFunction("_ZNK15KestrionCmdType4NameB5cxx11Ev", "KestrionCmdType::Name", &catalogue_.name);
    r.MemberFunction("_ZNK15KestrionCmdType11DescriptionB5cxx11Ev", "KestrionCmdType::Description",
                     &catalogue_.description);
    if (!r.MissingNames().empty()) {
        *error = path + " is not a suit plug-in: it does not export " + r.MissingNames();
        library_.Close();
        return false;
    }

    const ChannelType* type = getType_();
    if (type == nullptr || std::strncmp(type->typeName, kChannelTypeName, sizeof type->typeName) != 0) {
        *error = path + " is not the suit plug-in: its channel type is not named " + kChannelTypeName;
        library_.Close();
        return false;
    }
    if (std::memcmp(&type->typeGuid, kChannelTypeGuid, 16) != 0 || std::memcmp(&type->classGuid, kChannelTypeGuid, 16) != 0) {
        *error = path + " is not the suit plug-in: its channel type has another GUID";
        library_.Close();
        return false;
    }
    return true;
}

std::unique_ptr<SuitChannel> PluginLibrary::NewChannel() const {
    return std::make_unique<SuitChannel>(initDll_(), &channel_);
}

std::vector<Command> PluginLibrary::Commands() const {
    // A descriptor to call GetCommandTypes on, built by the plug-in's own
    // constructor and destroyed through its virtual destructor.
    alignas(KestrionCmdType) unsigned char storage[sizeof(KestrionCmdType)];
    catalogue_.construct(storage);
    auto* any = std::launder(reinterpret_cast<KestrionCmdType*>(storage));
    std::vector<KestrionCmdType*> entries;
    (any->*catalogue_.getCommandTypes)(entries);
    std::vector<Command> commands;
    for (KestrionCmdType* entry : entries) {
        commands.push_back(Command{static_cast<int>((entry->*catalogue_.id)()), (entry->*catalogue_.name)(),
                                   (entry->*catalogue_.description)()});
        delete entry;
    }
    any->~KestrionCmdType();
    return commands;
}

}  // namespace kxhost
