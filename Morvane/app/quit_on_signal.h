#pragma once

#include <QObject>

namespace morvane {

/// Catches SIGTERM and SIGINT from now on, one that arrived while they were blocked included
/// (the executable blocks them before it loads this module, so none is lost while it loads):
/// the handler only writes a byte to a pipe. Call before any thread or child process starts.
void catchTerminationSignals();

/// Makes the caught signals end the application's event loop as a normal quit (exit status 0),
/// those caught before the loop runs too: a polite request to terminate is how other programs,
/// and the updater, ask the application to go.
void quitOnCaughtSignals(QObject* parent);

}  // namespace morvane
