#include "plugin/KestrionUnique.h"

KestrionUnique::KestrionUnique() { SetChannelName("KestrionUnique"); }

KestrionUnique::KestrionUnique(const KestrionUnique& other) : Orv_Channel(other), driver(other.driver) {}

KestrionUnique& KestrionUnique::operator=(const KestrionUnique& other) {
    Orv_Channel::operator=(other);
    driver = other.driver;
    return *this;
}

KestrionUnique::~KestrionUnique() = default;

void KestrionUnique::CallChannel() {}

bool KestrionUnique::SaveChannel(OrvFileSaver& saver) { return Orv_Channel::SaveChannel(saver); }

bool KestrionUnique::LoadChannel(OrvFileLoader& loader, Orv_ChannelGroup* group) {
    return Orv_Channel::LoadChannel(loader, group);
}

void KestrionUnique::DoDependencyInit(Orv_List* list) {
    AddDLLDepend("Kestrion.dll", list);
    AddDLLDepend("Quorbit.dll", list);
    AddDLLDepend("isense.dll", list);
}

void KestrionUnique::Connect(int suit) {
    if (!driver.Loop()) driver.Start();
    driver.Connect(suit);
}

void KestrionUnique::Disconnect(int suit) { driver.Disconnect(suit); }

void KestrionUnique::Reset() { driver.Stop(); }

int KestrionUnique::GetNrOfSuits() { return driver.nrOfSuits; }

void KestrionUnique::GetData(int suit, Frame& frame) { driver.GetFrame(suit, frame); }

void KestrionUnique::SetNull(int suit) { driver.SetNull(suit); }

void KestrionUnique::SetNorth(int suit) { driver.SetNorth(suit); }

void KestrionUnique::EnableUnevenTerrain(int suit, bool on) { driver.EnableUnevenTerrain(suit, on); }

void KestrionUnique::EnableIgnoreFloor(int suit, bool on) { driver.EnableIgnoreFloor(suit, on); }

void KestrionUnique::EnabelJumping(int suit, bool on) { driver.EnableJumping(suit, on); }
