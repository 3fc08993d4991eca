#pragma once

#include <QObject>

namespace morvane {

/// Makes SIGTERM and SIGINT end the application's event loop as a normal quit (exit status 0):
/// a polite request to terminate is how other programs, and the updater, ask it to go.
/// The handler only writes a byte to a pipe; the event loop reads it and quits.
void quitOnTerminationSignals(QObject* parent);

}  // namespace morvane
