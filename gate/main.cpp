// The program's entry: one CGI request per process.
#include <string>

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

// Command-line arguments are ignored: the request comes from the environment and stdin.
int main() {
  try {
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
