// The few things norv asks of the operating system: whether a stream is a
// terminal, where norv itself lives, and the interrupt (Ctrl-C, or a
// scheduler's SIGTERM) that asks a run to cancel.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace norv {

/// True when the stream writes to a terminal.
bool IsTerminal(std::FILE* stream);

/// The terminal's width in columns, or 80 when it cannot be told.
int TerminalWidth(std::FILE* stream);

/// The folder holding the running norv executable; empty when unknown.
std::string ExecutableFolder();

/// Catches interrupt and termination requests from here on. The first one
/// only raises the flag that InterruptRequested reports, so that a run can
/// cancel through the library; a second one ends norv at once.
void WatchInterrupts();

/// Whether an interrupt arrived since WatchInterrupts.
bool InterruptRequested();

/// Asked by a long piece of work whether its own caller wants it to stop
/// (a cancelled job, say); empty: only an interrupt stops it.
using StopCheck = std::function<bool()>;
/// Whether an interrupt arrived or stop (when set) wants the work to stop.
bool StopRequested(const StopCheck& stop);

/// The exit status for an interrupted command: 128 plus the signal number.
int InterruptExitStatus();

/// Keeps standard output for norv's own machine-readable output: returns a
/// stream on a duplicate of it and points descriptor 1 at standard error,
/// so that what the library and the programs it starts write to standard
/// output cannot mix with it. Returns stdout itself when that fails.
std::FILE* SetAsideStandardOutput();

} // namespace norv
