#include "gate/command_line.h"

#include "gate/site_check.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr char kUsage[] =
    "Usage: orvanegate [--check [--repair] [session...] | --version | --help]\n"
    "Started by a web server (GATEWAY_INTERFACE set), it answers one CGI request and\n"
    "ignores its arguments. From a shell:\n"
    "  --check [session...]  check config.txt beside the executable, the settings of the\n"
    "                        named sessions (default: every settings file) and their\n"
    "                        directories and files; changes nothing. Exit code 0 when the\n"
    "                        site can serve every command, 1 otherwise.\n"
    "  --repair              after --check: the check also removes the member drafts\n"
    "                        that older builds left, holding the members' lock; the one\n"
    "                        change it makes. The report names what it removed.\n"
    "  --fastcgi ADDRESS     answer FastCGI requests on ADDRESS (:PORT, HOST:PORT or a\n"
    "                        socket path) until --max-requests N were answered (default\n"
    "                        500, 0: no bound; or ORVANEGATE_MAX_REQUESTS). Started by a\n"
    "                        process manager with a listening socket as standard input,\n"
    "                        it answers FastCGI requests without this option.\n"
    "  --version             print the version\n"
    "  --help                print this text\n";

void Print(std::string_view text) { platform::WriteStdout(text.data(), text.size()); }

}  // namespace

std::optional<int> RunCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty() || platform::GetEnvironment("GATEWAY_INTERFACE")) return std::nullopt;
  const std::string& option = arguments.front();
  if (option == "--version") {
    // ORVANEGATE_VERSION is the release's version, set once in the build.
    Print(std::string("orvanegate ") + ORVANEGATE_VERSION + "\n");
    return 0;
  }
  if (option == "--help") {
    Print(kUsage);
    return 0;
  }
  if (option != "--check") return std::nullopt;
  try {
    // The executable's directory exactly as a request finds it.
    const std::string directory = TWebModule1().GetExecutableDirectory();
    const bool repair = arguments.size() > 1 && arguments[1] == "--repair";
    const SiteReport report = CheckSite(
        directory, std::vector<std::string>(arguments.begin() + (repair ? 2 : 1), arguments.end()),
        repair);
    Print(report.Text());
    return report.Errors() == 0 ? 0 : 1;
  } catch (const Exception& e) {
    Print(std::string("The check could not finish: ") + e.ClassName() + ": " + e.Message() + "\n");
    return 1;
  }
}

}  // namespace orvane
