// When a job starts: at load, and again after it exits. The supervisor needs these rules without
// the property list parser.

#include <signal.h>

#include "job_config.h"

namespace launchctl {
namespace {

/// Signals that mean the program crashed rather than being asked to stop.
bool isCrashSignal(int signal) {
  switch (signal) {
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGFPE:
    case SIGBUS:
    case SIGSEGV:
    case SIGSYS:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool startsAtLoad(const JobConfig& config) {
  return config.runAtLoad || config.keepAlive.always || config.keepAlive.successfulExit;
}

bool restartsAfter(const KeepAlive& keepAlive, int status) {
  if (keepAlive.always) {
    return true;
  }
  if (keepAlive.successfulExit && (status == 0) == *keepAlive.successfulExit) {
    return true;
  }
  return keepAlive.crashed && (status < 0 && isCrashSignal(-status)) == *keepAlive.crashed;
}

}  // namespace launchctl
