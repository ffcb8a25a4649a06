#pragma once
#include <csignal>

namespace vanto {

// SIGINT, SIGTERM and SIGHUP (the terminal closed) while a run is under way: the handler only notes the signal, and the
// frame loop asks at its safe points, so that every file holds whole lines and whole frames
// when the run stops. A second signal of either kind ends the process at once, for a run
// that no longer reaches a safe point. SIGPIPE is ignored meanwhile, so that a console nobody
// reads any more only fails its writes. A signal ignored when the watch starts (a job started
// in the background with nohup) stays ignored. The previous handlers come back at the end.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The number of the first signal received, 0 while none has come.
    int pendingSignal() const;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
    struct sigaction previousHup_ {};
    struct sigaction previousPipe_ {};
};

// "SIGINT", "SIGTERM" or "SIGHUP" (those watched), else "signal".
const char* signalName(int signal);

}  // namespace vanto
