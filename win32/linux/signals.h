// The signals that end a thread by force (signals.cpp).
#pragma once

namespace kx {

struct ThreadObject;

int KillSignal();
// Installs the kill signal's handler, or takes it back from a library that
// installed its own since; the displaced handler gets every signal that is
// not ours.
void TakeKillSignal();
// Installs the single-step trap's handler, once: only a program that ends a
// thread by force has its SIGTRAP changed.
void TakeTrapSignal();
void SendKillSignal(ThreadObject* t);

// A thread inherits its creator's signal mask, which a host may have
// filled: each layer thread lets through what ending it needs.
void UnblockKillSignals();
// On the way out: no more kill signals for a thread already leaving.
void BlockKillSignal();

}  // namespace kx
