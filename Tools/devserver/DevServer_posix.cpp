#include "DevServer.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace Velotrix::DevServer {

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) {
    stopRequested.store(true);
    // The read under way ends with EINTR (no SA_RESTART); closing the descriptor makes the next one
    // fail as well, should the signal land just before it.
    close(STDIN_FILENO);
}

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "PC";
    return name;
}

void BlockStopSignals() {
    // Standard output may be a pipe whose reader left; a failed write is no reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    struct sigaction action = {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void TakeStopSignalsOnThisThread() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

bool StopRequested() { return stopRequested.load(); }

} // namespace Velotrix::DevServer
