#include "driver/KestrionThread.h"

#include "driver/Gyro.h"
#include "driver/SuitRecord.h"
#include "host/EngineInterface.h"
#include "threading/Orv_AutoMutex.h"
#include "win32/win32.h"

#include <string>

namespace {

void Message(const char* text) { globalEngine->ShowDebugMessage(text); }

// The seven locked per-suit operations: the mutex is taken and released
// even when the index is out of range.
template <typename Operation>
void UnderDriverMutex(Orv_Mutex& mutex, bool inRange, Operation operation) {
    Orv_AutoMutex hold(mutex);
    if (inRange) operation();
}

// The records (and their list's storage) of workers that could not be
// ended: such a worker may still be inside a read, and write its frame when
// the read returns. Kept, reachable, for the life of the process.
std::vector<std::vector<SuitRecord*>>& KeptRecords() {
    static auto* kept = new std::vector<std::vector<SuitRecord*>>;
    return *kept;
}

}  // namespace

KestrionThread::KestrionThread() : nrOfSuits(0) { driverMutex.Create("KestrionMutex"); }

KestrionThread::KestrionThread(const KestrionThread& other)
    : Orv_Thread(other), driverMutex(other.driverMutex), nrOfSuits(0) {}

KestrionThread& KestrionThread::operator=(const KestrionThread&) { return *this; }

KestrionThread::~KestrionThread() { EndWorker(); }

void KestrionThread::Start() {
    if (Loop()) return;
    if (GyroInit() == 0) {
        Message("Kestrion: Unable to initialize");
        return;
    }
    Message("Searching for suits");
    nrOfSuits = GyroFindSuits();
    if (nrOfSuits == 0) {
        Message("Kestrion: No suits found");
        return;
    }
    for (int k = 0; k < nrOfSuits; ++k) suits.push_back(new SuitRecord(k));
    char count[16];
    _itoa(nrOfSuits, count, 10);
    const std::string found = std::string("Found: ") + count + " suits";
    Message(found.c_str());
    Orv_Thread::Start();
    Message("Started Kestrion driver");
}

void KestrionThread::Run() {
    if (!Loop()) return;
    do {
        {
            Orv_AutoMutex pass(driverMutex);
            for (SuitRecord* record : suits) record->Read();
        }
        Sleep(25);  // outside the lock
    } while (Loop());
}

void KestrionThread::Stop() {
    if (!EndWorker()) Message("Kestrion: Unable to end the reader thread; its suit records are kept");
    nrOfSuits = 0;
    GyroFinish();
    Message("Stopped Kestrion driver");
}

bool KestrionThread::EndWorker() {
    if (!StopWorker()) {
        KeepRecords();
        return false;
    }
    DestroyRecords();
    return true;
}

void KestrionThread::DestroyRecords() {
    for (SuitRecord* record : suits) delete record;
    std::vector<SuitRecord*>().swap(suits);
}

void KestrionThread::KeepRecords() {
    KeptRecords().push_back(std::move(suits));
    std::vector<SuitRecord*>().swap(suits);
}

void KestrionThread::Connect(int suit) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->Open(); });
}

void KestrionThread::Disconnect(int suit) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->Close(); });
}

void KestrionThread::SetNull(int suit) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->SetNull(); });
}

void KestrionThread::EnableJumping(int suit, bool on) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->EnableJumping(on); });
}

void KestrionThread::SetNorth(int suit) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->SetNorth(); });
}

void KestrionThread::EnableUnevenTerrain(int suit, bool on) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->EnableUnevenTerrain(on); });
}

void KestrionThread::EnableIgnoreFloor(int suit, bool on) {
    UnderDriverMutex(driverMutex, InRange(suit), [&] { suits[suit]->EnableIgnoreFloor(on); });
}

void KestrionThread::GetFrame(int suit, Frame& frame) {
    if (InRange(suit)) suits[suit]->CopyFrame(frame);
}

int KestrionThread::GetNrOfSuits() { return nrOfSuits; }
