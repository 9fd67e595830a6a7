// The executable's options for operators, run from a shell: --check, --version, --help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Runs the option given as the first argument and returns the exit code; none when the
// process is to answer a CGI request: the web server set GATEWAY_INTERFACE (its
// arguments are words of a query string), or no option was given.
std::optional<int> RunCommandLine(const std::vector<std::string>& arguments);

}  // namespace orvane
