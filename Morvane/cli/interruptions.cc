#include "interruptions.h"

#include <signal.h>
#include <unistd.h>

namespace morvane::CLI {
namespace {

constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t firstSignal = 0;

struct sigaction previousCaught[3];
struct sigaction previousPipe;

extern "C" void recordSignal(int signal) {
  if (firstSignal == 0)
    firstSignal = signal;
}

}  // namespace

Interruptions::Interruptions() {
  firstSignal = 0;
  struct sigaction record {};
  record.sa_handler = recordSignal;
  sigemptyset(&record.sa_mask);
  record.sa_flags = SA_RESTART;  // writes to the terminal go on; waits check the flag anyway
  for (int i = 0; i < 3; ++i)
    ::sigaction(kCaught[i], &record, &previousCaught[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &previousPipe);
}

Interruptions::~Interruptions() {
  for (int i = 0; i < 3; ++i)
    ::sigaction(kCaught[i], &previousCaught[i], nullptr);
  ::sigaction(SIGPIPE, &previousPipe, nullptr);
}

int Interruptions::caught() {
  return firstSignal;
}

void Interruptions::note(int signal) {
  recordSignal(signal);
}

int statusForSignal(int signal) {
  return 128 + signal;
}

int signalOfStatus(int status) {
  return status > 128 && status < 128 + NSIG ? status - 128 : 0;
}

void endBySignal(int signal) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(statusForSignal(signal));  // a signal whose default is to go on
}

}  // namespace morvane::CLI
