// The executable's options for operators, run from a shell: --check, the operator
// commands (operator_commands.h), --version, --help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Runs the option given as the first argument and returns the exit code; none when the
// process is to answer requests: the web server set GATEWAY_INTERFACE (its arguments are
// words of a query string), no argument was given (a CGI request, or a FastCGI process
// started on a listening socket), or the arguments are the responder's options, which
// ChooseResponderMode reads.
std::optional<int> RunCommandLine(const std::vector<std::string>& arguments);

// A command line the gate does not understand: the reason and the usage on standard
// error, and the exit code 2. Nothing else is done, so nothing is written.
int ReportUsageError(const std::string& reason);

}  // namespace orvane
