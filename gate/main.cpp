// The program's entry: one CGI request per process.
#include <string>
#include <vector>

#include "gate/command_line.h"
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

}  // namespace

// A CGI request comes from the environment and stdin, and its arguments are ignored; from
// a shell, the operator's options run instead.
int main(int argc, char** argv) {
  try {
    if (auto exit_code = orvane::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc))) {
      return *exit_code;
    }
    orvane::TCGIApplication application;
    application.Initialize();
    application.RegisterModuleClass(orvane::ModuleClassOf<orvane::TWebModule1>("TWebModule1"));
    application.Run();
  } catch (const orvane::Exception& e) {
    return ReportStartupFailure(e.ClassName(), e.Message());
  } catch (...) {
    return ReportStartupFailure("EExternalException", "");
  }
  return 0;
}
