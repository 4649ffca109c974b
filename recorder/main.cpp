// qvelnor-recorder: the simulated recorder as a program. Prints
// "listening on ADDR:PORT" once it accepts connections and runs until SIGINT or
// SIGTERM. Exit codes: 0 after a signal or --help, 1 when it cannot listen or
// cannot start its video, 2 for bad options.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <pthread.h>

#include "recorder/recorder.h"
#include "recorder/recorder_options.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    recorder::RecorderConfig config;
    std::string message;
    switch (recorder::ParseRecorderOptions(args, &config, &message)) {
        case recorder::OptionsResult::kHelp:
            std::fputs(recorder::RecorderUsage().c_str(), stdout);
            return 0;
        case recorder::OptionsResult::kError:
            std::fprintf(stderr, "qvelnor-recorder: %s\n(see --help)\n", message.c_str());
            return 2;
        case recorder::OptionsResult::kRun:
            break;
    }
    // A program that runs for hours must not keep every packet for Received().
    config.keepReceived = 0;

    // The signals are taken by sigwait below; blocked before the service thread
    // starts so that it inherits the mask and never receives them itself.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    recorder::Recorder rec;
    if (!rec.Start(config, &message)) {
        std::fprintf(stderr, "qvelnor-recorder: %s\n", message.c_str());
        return 1;
    }
    std::printf("listening on %s:%d\n", config.listenAddress.c_str(), rec.Port());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    rec.Stop();
    return 0;
}
