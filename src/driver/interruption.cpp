#include "driver/interruption.h"

#include <unistd.h>

#include <cstring>

namespace vanto {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void noteSignal(int signal) {
    if (receivedSignal != 0) {
        // Asked twice: the default action, now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    receivedSignal = signal;
}

void watch(int signal, struct sigaction& previous) {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // writes in progress complete instead of failing with EINTR
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) return;
    sigaction(signal, &action, nullptr);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    receivedSignal = 0;
    watch(SIGINT, previousInt_);
    watch(SIGTERM, previousTerm_);
    watch(SIGHUP, previousHup_);
    // A reader of the console that goes away (`vanto ... | head -1`) must not end the run: the
    // failed console write is then only a write that failed.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe_);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGHUP, &previousHup_, nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
    receivedSignal = 0;
}

int InterruptWatch::pendingSignal() const { return receivedSignal; }

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal";
    }
}

}  // namespace vanto
