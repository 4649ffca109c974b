#pragma once
// Helpers shared by the test programs.

#include <functional>
#include <string>

namespace testing_support {

// A fresh directory under the test run's private temporary folder, removed
// at exit with everything else in that folder.
std::string MakeTempDir(const std::string& hint);

// Runs the Qt event loop until pred() is true or timeoutMs has passed.
// Returns pred()'s last value.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// Runs the Qt event loop for about ms milliseconds.
void PumpFor(int ms);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();

}  // namespace testing_support
