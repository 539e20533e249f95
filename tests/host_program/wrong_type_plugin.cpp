// A library that exports everything the host program resolves in the suit
// plug-in, but whose channel type record is not the suit channel's: its name
// differs, or with KX_WRONG_GUID set, its GUID. The program must refuse it
// before calling anything else.
#include "host/ChannelType.h"
#include "platform/export.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct Frame;
class Orv_Channel;

// The members the program resolves by name, with the suit plug-in's
// signatures, so they carry the same symbol names. None is ever called.
class KX_EXPORT KestrionUnique {
public:
    void Connect(int);
    void Disconnect(int);
    void Reset();
    int GetNrOfSuits();
    void GetData(int, Frame&);
    void SetNull(int);
    void SetNorth(int);
    void EnableUnevenTerrain(int, bool);
    void EnableIgnoreFloor(int, bool);
    void EnabelJumping(int, bool);
};

void KestrionUnique::Connect(int) {}
void KestrionUnique::Disconnect(int) {}
void KestrionUnique::Reset() {}
int KestrionUnique::GetNrOfSuits() { return 0; }
void KestrionUnique::GetData(int, Frame&) {}
void KestrionUnique::SetNull(int) {}
void KestrionUnique::SetNorth(int) {}
void KestrionUnique::EnableUnevenTerrain(int, bool) {}
void KestrionUnique::EnableIgnoreFloor(int, bool) {}
void KestrionUnique::EnabelJumping(int, bool) {}

class KX_EXPORT KestrionCmdType {
public:
    KestrionCmdType();
    void GetCommandTypes(std::vector<KestrionCmdType*>& list);
    std::int32_t Id() const;
    const std::string& Name() const;
    const std::string& Description() const;

private:
    std::string text_;
};

KestrionCmdType::KestrionCmdType() {}
void KestrionCmdType::GetCommandTypes(std::vector<KestrionCmdType*>&) {}
std::int32_t KestrionCmdType::Id() const { return 0; }
const std::string& KestrionCmdType::Name() const { return text_; }
const std::string& KestrionCmdType::Description() const { return text_; }

extern "C" {

KX_EXPORT ChannelType* GetType() {
    static ChannelType record{};
    const bool wrongGuid = std::getenv("KX_WRONG_GUID") != nullptr;
    std::strcpy(record.typeName, wrongGuid ? "KestrionUnique" : "KestrionUniqueX");
    // The suit channel's GUID, or one bit off it.
    record.typeGuid = {0x17C29F10u ^ wrongGuid, 0xF50Au, 0x4E53u, {0xB2, 0x93, 0xEC, 0x44, 0x27, 0xBF, 0xE7, 0x16}};
    record.classGuid = record.typeGuid;
    record.deviceChannel = record.userCreatable = 1;
    return &record;
}

KX_EXPORT Orv_Channel* InitDLL() { return nullptr; }
}
