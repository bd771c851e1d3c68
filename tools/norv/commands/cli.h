// The command line: subcommands, their options and how each option maps
// onto an Invocation.
#pragma once

#include "commands/commands.h"

namespace norv {

/// Parses argv into in. Returns -1 when a command is to run, otherwise the
/// exit status (0 after --help or --version, 2 for a usage error, with the
/// message printed).
int ParseCommandLine(int argc, char** argv, Invocation& in);

} // namespace norv
