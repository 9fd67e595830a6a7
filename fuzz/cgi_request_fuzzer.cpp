// The CGI request reading its environment and body. The input is NAME=value lines, an
// empty line, then the body on standard input.
#include <string>
#include <string_view>

#include "fuzz/cgi_process.h"
#include "fuzz/fuzz_input.h"
#include "host/cgi_request.h"
#include "platform/exception.h"

namespace {

using orvane::fuzz::Check;

orvane::fuzz::CgiProcess& Process() {
  static orvane::fuzz::CgiProcess process;
  return process;
}

// Sets the variables of the leading lines; returns the body after the empty line.
std::string_view SetVariables(std::string_view input) {
  Process().ClearEnvironment();
  while (!input.empty()) {
    const auto [line, rest] = orvane::fuzz::CutFirstLine(input);
    input = rest;
    if (line.empty()) break;
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos)
      Process().Set(line.substr(0, equals), line.substr(equals + 1));
  }
  return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body = SetVariables(orvane::fuzz::AsView(data, size));
  if (!orvane::fuzz::CgiProcess::DeclaredLengthIsModest()) return 0;
  Process().SetBody(body);

  orvane::TCGIRequest request;
  const std::int32_t declared = request.GetIntegerVariable(orvane::rvContentLength);
  const std::string_view content = request.ContentView();
  const std::size_t expected = declared > 0 ? std::min<std::size_t>(declared, body.size()) : 0;
  Check(content == body.substr(0, expected), "the content is the declared prefix of the body");

  for (int index = -1; index <= 29; ++index) {
    request.GetStringVariable(index);
    request.GetIntegerVariable(index);
    try {
      request.GetDateVariable(index);
    } catch (const orvane::EConvertError&) {
    }
  }
  request.GetDispatchPathInfo();
  request.MapUriToPath("/x");
  const std::string rest = request.ReadString(static_cast<std::int32_t>(body.size()) + 1);
  Check(rest == body.substr(expected), "what the request did not read is still there");
  Check(request.ReadString(1).empty(), "nothing follows the end of the input");
  return 0;
}
