#include "gate/command_line.h"

#include "gate/operator/operator_commands.h"
#include "gate/operator/site_check.h"
#include "gate/responder_mode.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr char kUsage[] =
    "Usage: orvanegate [--check [--repair] [session...] | --version | --help |\n"
    "                   --fastcgi ADDRESS [--max-requests N] [--idle-timeout S] |\n"
    "                   --set-password SESSION ID | --lock SESSION ID |\n"
    "                   --unlock SESSION ID | --remove-leaf SESSION NAME |\n"
    "                   --list-members SESSION]\n"
    "Started by a web server (GATEWAY_INTERFACE set), it answers one CGI request and\n"
    "ignores its arguments. From a shell, an argument not listed here is refused (exit\n"
    "code 2, nothing written):\n"
    "  --check [session...]  check config.txt beside the executable, the settings of the\n"
    "                        named sessions (default: every settings file) and their\n"
    "                        directories and files; changes nothing but with --repair.\n"
    "                        Exit code 0 when the site can serve every command, 1 otherwise.\n"
    "  --repair              after --check: the check also removes the member drafts\n"
    "                        that older builds left, holding the members' lock; the one\n"
    "                        change it makes. The report names what it removed.\n"
    "  --fastcgi ADDRESS     answer FastCGI requests on ADDRESS (:PORT on 127.0.0.1,\n"
    "                        HOST:PORT or a socket path). Started by a process manager\n"
    "                        with a listening socket as standard input, it answers\n"
    "                        FastCGI requests without this option.\n"
    "  --max-requests N      a FastCGI process exits after N requests, for its manager to\n"
    "                        start another (or ORVANEGATE_MAX_REQUESTS=N); by default, and\n"
    "                        with 0, it answers without bound. A manager that starts no new\n"
    "                        process (spawn-fcgi -F) needs the default; the shipped\n"
    "                        manager and systemd units set 500.\n"
    "  --idle-timeout S      FastCGI: close a connection that sends nothing for S seconds\n"
    "                        (default 30, 0: no bound; or ORVANEGATE_IDLE_TIMEOUT).\n"
    "  --set-password SESSION ID\n"
    "                        store the password read from standard input (one line,\n"
    "                        Shift_JIS, five or more characters once escaped as the form\n"
    "                        stores it) for member ID, as passwordstore keeps it.\n"
    "  --lock SESSION ID     lock member ID: the id stays taken, every password is wrong\n"
    "                        and its profile answers as for no member.\n"
    "  --unlock SESSION ID   undo --lock.\n"
    "  --remove-leaf SESSION NAME\n"
    "                        remove the leaf NAME (its image and record); no posting gets\n"
    "                        the name again.\n"
    "  --list-members SESSION\n"
    "                        print the members' ids, one a line.\n"
    "                        These five take the gate's locks, so they may run while the\n"
    "                        site serves; exit code 0 when done, 1 (and the reason on\n"
    "                        standard error) when not: an unknown session, id or leaf.\n"
    "  --version             print the version\n"
    "  --help                print this text\n";

void Print(std::string_view text) { platform::WriteStdout(text.data(), text.size()); }

}  // namespace

int ReportUsageError(const std::string& reason) {
  platform::WriteStderr("orvanegate: " + reason + "\n" + kUsage);
  return 2;
}

std::optional<int> RunCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty() || platform::GetEnvironment("GATEWAY_INTERFACE")) return std::nullopt;
  const std::string& option = arguments.front();
  if (IsResponderOption(option)) return std::nullopt;
  if (const OperatorCommand* command = FindOperatorCommand(option)) {
    if (arguments.size() - 1 != command->operand_count) {
      return ReportUsageError(option + " takes " + std::string(command->operands));
    }
    return RunOperatorCommand(*command, std::span(arguments).subspan(1));
  }
  if (option != "--check" && arguments.size() > 1) {
    return ReportUsageError(option + " takes no argument: " + arguments[1]);
  }
  if (option == "--version") {
    // ORVANEGATE_VERSION is the release's version, set once in the build.
    Print(std::string("orvanegate ") + ORVANEGATE_VERSION + "\n");
    return 0;
  }
  if (option == "--help") {
    Print(kUsage);
    return 0;
  }
  if (option != "--check") return ReportUsageError("unknown argument " + option);
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
