#pragma once

#include "runtime/core/textdefs.h"

namespace pennaro {

// Starts a program with its arguments, without a shell. On Windows the pieces are joined into
// one command line with single blanks and nothing quoted, as the system's own launcher takes it.
// With `wait` false the process runs on detached; with it true the call returns when it ended.
// True when the process was started.
bool launchCommand(const TextArray& programAndArguments, bool wait);

// The system file manager opened on `directory`.
TextArray fileManagerCommand(const Text& directory);

} // namespace pennaro
