#pragma once
// Command line of the qvelnor-recorder program, turned into a RecorderConfig.
// Each option but --no-video takes its value as the next argument or after
// "=", e.g. "--channels 8" or "--channels=8". RecorderUsage() lists them all.

#include <string>
#include <vector>

#include "recorder/recorder.h"

namespace recorder {

enum class OptionsResult {
    kRun,    // *config is complete
    kHelp,   // --help: print RecorderUsage() and exit 0
    kError,  // *message says what is wrong; exit 2
};

// args are the program's arguments without the program name. *config starts
// from the defaults of RecorderConfig (admin:1234 unless --user is given),
// except that the program streams video unless --no-video is given.
OptionsResult ParseRecorderOptions(const std::vector<std::string>& args, RecorderConfig* config,
                                   std::string* message);

std::string RecorderUsage();

}  // namespace recorder
