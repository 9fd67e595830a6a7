#include "gate/responder_mode.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace orvane {
namespace {

struct ModeCase {
  const char* label;
  std::vector<std::string> arguments;
  bool gateway_interface_set;
  bool standard_input_listens;
  std::optional<std::string> max_requests_variable;
  bool fastcgi;
  std::string address;
  long max_requests;
  bool fails;
};

TEST(ResponderMode, ArgumentsSocketAndVariableChooseTheMode) {
  const long d = 0;  // without a bound unless one is asked for
  const std::optional<std::string> none;
  // One case a line.
  // clang-format off
  const ModeCase cases[] = {
      {"plain CGI run", {}, false, false, none, false, "", d, false},
      {"CGI ignores a bad bound", {}, false, false, "x", false, "", d, false},
      {"query words as arguments", {"--fastcgi", ":9000"}, true, false, none, false, "", d, false},
      {"unknown first argument", {"/x", "--fastcgi"}, false, false, none, false, "", d, true},
      {"unknown argument, socket handed over", {"-h"}, false, true, none, false, "", d, true},
      {"socket handed over", {}, false, true, none, true, "", d, false},
      {"socket and variable", {}, false, true, "20", true, "", 20, false},
      {"variable of zero: no bound", {}, false, true, "0", true, "", 0, false},
      {"own address", {"--fastcgi", "/run/g.sock"}, false, false, none, true, "/run/g.sock", d,
       false},
      {"option beats variable", {"--fastcgi", ":9000", "--max-requests", "7"}, false, false, "20",
       true, ":9000", 7, false},
      {"bound before address", {"--max-requests", "7", "--fastcgi", ":9000"}, false, false, none,
       true, ":9000", 7, false},
      {"bound without a socket", {"--max-requests", "7"}, false, false, none, false, "", d, true},
      {"missing address", {"--fastcgi"}, false, false, none, false, "", d, true},
      {"empty address", {"--fastcgi", ""}, false, false, none, false, "", d, true},
      {"unknown later option", {"--fastcgi", ":9000", "--x", "1"}, false, false, none, false, "",
       d, true},
      {"signed bound", {"--fastcgi", ":9000", "--max-requests", "-1"}, false, false, none, false,
       "", d, true},
      {"bound too large", {"--fastcgi", ":9000", "--max-requests", "1000000001"}, false, false,
       none, false, "", d, true},
      {"bad variable", {}, false, true, "5x", false, "", d, true},
      {"empty variable", {}, false, true, "", false, "", d, true},
      {"idle timeout", {"--idle-timeout", "3", "--fastcgi", ":9000"}, false, false, none, true,
       ":9000", d, false},
      {"idle timeout too long", {"--fastcgi", ":9000", "--idle-timeout", "86401"}, false, false,
       none, false, "", d, true},
  };
  // clang-format on
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.label);
    const ResponderMode mode = ChooseResponderMode(
        c.arguments, c.gateway_interface_set, c.standard_input_listens, c.max_requests_variable);
    EXPECT_EQ(c.fails, !mode.error.empty()) << mode.error;
    if (c.fails) continue;
    EXPECT_EQ(c.fastcgi, mode.fastcgi);
    EXPECT_EQ(c.address, mode.address);
    EXPECT_EQ(c.max_requests, mode.max_requests);
  }
}

}  // namespace
}  // namespace orvane
