// Ctrl-C (SIGINT) and SIGTERM end davctl at once with exit status 130, whatever a transfer is
// doing: a server that reads nothing must not keep the user waiting. Before it goes, davctl
// removes the download's temporary file and prints one line saying what was interrupted.
#pragma once

#include <string>

#include "compiled/aerror.h"

namespace Interrupts {

// Catches both signals for the rest of the run.
void Install();
// What an interruption now stops, for its one line ("get /a.bin", READ_CANCELED).
void SetAction(const std::string& action, AERROR code);
// A file to remove if interrupted now; empty for none.
void SetScratch(const std::string& path);

}  // namespace Interrupts
