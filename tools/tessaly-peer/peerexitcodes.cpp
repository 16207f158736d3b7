#include "peerexitcodes.h"

#include "common/vovodo_global.h"

int exitCodeForCommand(int command)
{
    switch (command) {
    case UPDATE_INSTALLED:
        return ExitSuccess;
    case DOWNLOAD_ERROR: // a failed download and a failed installation alike
        return ExitFailureReported;
    default:
        return -1;
    }
}

int exitCodeForSignal(int signalNumber)
{
    return 128 + signalNumber;
}
