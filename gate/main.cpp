// The program's entry: one CGI request per process, or FastCGI requests in a loop.
#include <string>
#include <vector>

#include "gate/command_line.h"
#include "gate/responder_mode.h"
#include "gate/web_module1.h"
#include "host/cgi_application.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace {

// Start-up failed before the request cycle: say so on standard error.
int ReportStartupFailure(const std::string& class_name, const std::string& message) {
  orvane::platform::WriteStderr("orvanegate: start-up failed: " + class_name + ": " + message +
                                "\n");
  return 1;
}

orvane::ResponderMode ResponderModeOf(const std::vector<std::string>& arguments) {
  namespace platform = orvane::platform;
  const bool gateway_interface_set = platform::GetEnvironment("GATEWAY_INTERFACE").has_value();
  // A web server's CGI request never asks what standard input is.
  const bool listens = !gateway_interface_set && platform::CanServeFastCgi() &&
                       platform::StartedAsFastCgiResponder();
  return orvane::ChooseResponderMode(arguments, gateway_interface_set, listens,
                                     platform::GetEnvironment("ORVANEGATE_MAX_REQUESTS"),
                                     platform::GetEnvironment("ORVANEGATE_IDLE_TIMEOUT"));
}

// The application is made once; each request then reads its configuration, settings and
// records anew and gets modules of its own.
int ServeFastCgi(orvane::TCGIApplication& application, const orvane::ResponderMode& mode) {
  application.KeepModuleLists = false;
  return orvane::platform::ServeFastCgi(mode.address, mode.max_requests, mode.idle_seconds,
                                        [&application] { application.ServeRequest(); });
}

}  // namespace

// A CGI request comes from the environment and stdin, and its arguments are ignored; from
// a shell, the operator's options run instead.
int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (auto exit_code = orvane::RunCommandLine(arguments)) return *exit_code;
    const orvane::ResponderMode mode = ResponderModeOf(arguments);
    if (!mode.error.empty()) return orvane::ReportUsageError(mode.error);
    orvane::TCGIApplication application;
    application.Initialize();
    application.RegisterModuleClass(orvane::ModuleClassOf<orvane::TWebModule1>("TWebModule1"));
    if (mode.fastcgi) return ServeFastCgi(application, mode);
    application.Run();
  } catch (const orvane::Exception& e) {
    return ReportStartupFailure(e.ClassName(), e.Message());
  } catch (...) {
    return ReportStartupFailure("EExternalException", "");
  }
  return 0;
}
