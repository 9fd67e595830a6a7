// How the process answers: one CGI request, or FastCGI requests in a loop.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Requests a persistent process answers before it exits (0: no bound). Without a bound
// by default: a manager that starts the processes once and never again (spawn-fcgi -F)
// would run out of them. Managers that start another (the shipped script and units) set
// a bound, so that an unforeseen leak cannot grow forever.
inline constexpr long kDefaultMaxRequests = 0;

// Seconds a persistent process waits for a server that sends (or takes) nothing before it
// closes the connection, so that no idle or slow connection holds a process for good.
inline constexpr long kDefaultIdleSeconds = 30;
inline constexpr long kLargestIdleSeconds = 86400;

struct ResponderMode {
  bool fastcgi = false;
  std::string address;  // empty: the listening socket handed over as standard input
  long max_requests = kDefaultMaxRequests;  // 0: no bound
  long idle_seconds = kDefaultIdleSeconds;  // 0: no bound
  std::string error;                        // not empty: the options are wrong; nothing is answered
};

// The options that choose and tune the FastCGI mode, each followed by its value.
bool IsResponderOption(const std::string& argument);

// What the process was started for. A web server's CGI request (GATEWAY_INTERFACE set)
// may carry words of a query string as arguments: they are never options. Otherwise an
// argument that is not a responder option is an error. Without arguments, a listening
// socket on standard input makes a FastCGI process (process managers start it so); "--fastcgi ADDRESS" opens its own socket; "--max-requests N"
// or the variable ORVANEGATE_MAX_REQUESTS bounds the requests per process;
// "--idle-timeout SECONDS" or ORVANEGATE_IDLE_TIMEOUT the wait for a silent connection.
ResponderMode ChooseResponderMode(const std::vector<std::string>& arguments,
                                  bool gateway_interface_set, bool standard_input_listens,
                                  const std::optional<std::string>& max_requests_variable,
                                  const std::optional<std::string>& idle_timeout_variable = {});

}  // namespace orvane
