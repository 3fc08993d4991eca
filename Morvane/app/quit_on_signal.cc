#include "quit_on_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "platform.h"

namespace morvane {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void catchTerminationSignals() {
  if (signalPipe[0] < 0) {
    if (!platform::openOutputPipe(signalPipe))
      return;
    // The handler must never wait for room in the pipe.
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  }
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGINT);
  ::pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

void quitOnCaughtSignals(QObject* parent) {
  if (signalPipe[0] < 0)
    return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
  });
}

}  // namespace morvane
