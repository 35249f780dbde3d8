// Interrupted runs: SIGINT, SIGTERM, SIGHUP, SIGPIPE (the console's reader went away) and
// SIGXFSZ (a file size limit) remove the files that the run created and has not finished, then
// end the process with status 128 + the signal number. A signal that was ignored when the
// process started is left ignored.
#pragma once

#include <signal.h>

#include <string>

#include "tekconv/tekconv.hpp"

namespace tek {

void install_signal_cleanup();
// Registers a file to remove if a signal ends the run.
void track_output(const std::string& name);
// Forgets one registered file, or all of them: the run has finished with them.
void untrack_output(const std::string& name);
void untrack_outputs();

// The run's temporary files: registered for removal if a signal ends the run, with the signals
// held back while one is created.
tekconv::TemporaryFiles& signal_watch();

// Holds the cleanup signals back while it lives, so that a file is never created without
// being registered.
struct SignalBlock {
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace tek
