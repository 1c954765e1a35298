// The handler only writes the signal number to a pipe; a thread reads it and
// does the work no signal handler may do (locks, files, waiting).
#include "batch/stop_signals.h"

#include <unistd.h>
#include <atomic>
#include <csignal>
#include <thread>

namespace {

std::atomic<int> stopped{0};
int pipeEnds[2] = {-1, -1};

extern "C" void onSignal(int signal) {
    const unsigned char s = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &s, 1);
}

}  // namespace

void installStopSignals(std::function<void(int)> onStop) {
    if (pipeEnds[0] >= 0 || ::pipe(pipeEnds) != 0) return;
    std::thread([onStop = std::move(onStop)] {
        unsigned char s = 0;
        while (::read(pipeEnds[0], &s, 1) != 1) {
        }
        stopped = s;
        if (onStop) onStop(s);
    }).detach();
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stopSignal() {
    return stopped.load();
}
