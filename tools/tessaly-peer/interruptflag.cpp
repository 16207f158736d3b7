#include "interruptflag.h"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void onInterrupt(int signalNumber)
{
    if (received == 0)
        received = signalNumber;
}

} // namespace

void installInterruptHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGINT, SIGTERM, SIGHUP, SIGPIPE })
        sigaction(signalNumber, &action, nullptr);
}

int receivedInterrupt()
{
    return received;
}
