#pragma once

class QCoreApplication;

// The composition root of everything below the windows: the program, the sync
// peer test program and the benchmarks start through it, so they run what ships.
namespace Wiring {

// The request layer's hand-over to the broker connection and the file service,
// and each capture to the push queue. Connects once however often it is called.
void connectSyncChain();

// Opens the store, wires the sync chain and starts the clipboard watcher (stopped
// when the application quits). Returns whether the store is open; the watcher
// runs either way, as it always has. The broker connection is left to the
// caller, who may want its signals first.
bool startCore(QCoreApplication &app);

} // namespace Wiring
