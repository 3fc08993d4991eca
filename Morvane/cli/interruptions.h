#pragma once

namespace morvane::CLI {

/// For the length of a scope, catches SIGINT, SIGTERM and SIGHUP and ignores SIGPIPE, so that a
/// command-line mode notices them between its steps and cleans up on its own thread. Writes to
/// a closed output then fail with EPIPE instead of ending the process; the mode records that as
/// SIGPIPE with note(). The previous dispositions come back when the scope ends.
class Interruptions {
 public:
  Interruptions();
  ~Interruptions();
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

  /// The first signal caught or noted since the scope began; 0 for none.
  static int caught();

  /// Records `signal` as if it had been caught, unless an earlier one was.
  static void note(int signal);
};

/// The exit status a mode cut short by `signal` returns: 128 + the signal's number.
int statusForSignal(int signal);

/// The signal that a status from statusForSignal stands for; 0 for any other status.
int signalOfStatus(int status);

/// Ends the process the way `signal` does by default, so the parent sees the signal.
[[noreturn]] void endBySignal(int signal);

}  // namespace morvane::CLI
