// The site check of posting names: the naming mode, its counter file and how many of
// its names are taken.
#include <limits>
#include <set>

#include "gate/disk_names.h"
#include "gate/leaves/leaf_naming.h"
#include "gate/leaves/number_template.h"
#include "gate/operator/site_check.h"
#include "gate/text/file_text.h"
#include "gate/text/path_text.h"
#include "host/ascii_case.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

using platform::Answer;

// A counter this close to the largest number it can hold is reported before it runs out.
constexpr std::int64_t kCounterHeadroom = 1000;

bool MatchesTemplate(std::string_view name, std::string_view name_template) {
  if (name.size() < name_template.size()) return false;
  for (std::size_t i = 0; i < name_template.size(); ++i) {
    const char c = name[i];
    if (name_template[i] == '#' ? (c < '0' || c > '9') : c != name_template[i]) return false;
  }
  const std::string_view rest = name.substr(name_template.size());
  return rest.empty() || rest.front() == '.';
}

// Names taken out of all the template can form; a warning from 90 %, an error when none is left.
void CheckCapacity(SiteReport& report, const std::string& dir, std::string_view name_template) {
  const std::uint64_t names = NumberTemplateNameCount(name_template);
  const auto entries = platform::ListDirectory(dir);
  if (!entries) {
    report.Error("the leaf directory " + dir + " cannot be listed, so no free name can be found",
                 "give the account " + platform::AccountName() + " read access to it");
    return;
  }
  const std::uint64_t taken = CountTakenTemplateNames(*entries, name_template);
  const std::string share = std::to_string(taken) + " of " + std::to_string(names) + " names taken";
  report.Note("names of " + std::string(name_template) + ": " + share);
  const std::string fix = "move old leaves out of " + dir + ", or add a # to the template";
  if (taken >= names) {
    report.Error("every name of " + std::string(name_template) + " is taken (" + share +
                     "): every posting answers \"No file name is available\"",
                 fix);
  } else if (taken * 10 >= names * 9) {
    report.Warning("names of " + std::string(name_template) + " are running out (" + share +
                       "): postings will soon answer \"No file name is available\"",
                   fix);
  }
}

// The counter file must hold a number, or be creatable, and be readable and rewritable.
void CheckCounterFile(SiteReport& report, const std::string& counter, const std::string& file,
                      std::string_view name_template) {
  const std::string account = platform::AccountName();
  if (platform::DirectoryExists(counter)) {
    report.Error("a directory stands at the counter file " + counter +
                     ": every posting fails with status 500",
                 "remove the directory, or correct FileNameCounter in " + file);
  } else if (!platform::FileExists(counter)) {
    const std::string dir(DirectoryPart(platform::FullPath(counter), platform::PathDelimiter()));
    if (!platform::DirectoryExists(dir)) {
      report.Error("the counter file " + counter + " cannot be created: its directory " + dir +
                       " does not exist; every posting fails with status 500",
                   "create the directory, or correct FileNameCounter in " + file);
    } else if (platform::MayCreateFilesIn(dir) == Answer::No) {
      report.Error(
          "the counter file " + counter + " cannot be created: the account " + account +
              " cannot create files in " + dir + "; every posting fails with status 500",
          "give " + account + " write access to " + dir + ", or create the file holding 0");
    }
  } else if (platform::MayRead(counter) == Answer::No ||
             platform::MayWrite(counter) == Answer::No) {
    report.Error("the counter file " + counter + " cannot be read and rewritten by the account " +
                     account + ": postings fail",
                 "give " + account + " read and write access to it");
  } else {
    try {
      const std::optional<std::int64_t> number = ParseCounterText(LoadFileToString(counter));
      if (!number) {
        report.Error(
            "the counter file " + counter + " holds no number: every posting fails with status 500",
            "write the number of the last posting into it (0 when there is none)");
      } else {
        report.Note("counter: " + std::to_string(*number));
        CheckCounterRange(report, counter, *number, name_template);
      }
    } catch (const Exception& e) {
      report.Error("the counter file " + counter + " cannot be read: " + e.Message(), "");
    }
  }
}

void CheckCounterMode(SiteReport& report, const SessionSettings& settings,
                      const std::string& file) {
  report.Setting("FileNameTemplate", settings.FileNameTemplate, "numbered names from a counter");
  if (settings.FileNameTemplate.find('#') == std::string::npos) {
    report.Error("FileNameTemplate " + settings.FileNameTemplate +
                     " holds no #: every posting would take the same name, so every posting "
                     "after the first answers \"No file name is available\"",
                 "put a # for each digit of the number into the template, e.g. leaf####");
  }
  const std::string counter = settings.FileNameCounter.empty()
                                  ? settings.path + std::string(disk_names::kDefaultCounter)
                                  : settings.FileNameCounter;
  report.Setting("FileNameCounter", settings.FileNameCounter, counter);
  CheckAbsolutePath(report, "FileNameCounter", settings.FileNameCounter);
  CheckCounterFile(report, counter, file, settings.FileNameTemplate);
  // The leaf directory's own ".counter.txt.new" is reported with the directory.
  if (OlderCounterHelperPath(counter) !=
      OlderCounterHelperPath(settings.path + std::string(disk_names::kDefaultCounter))) {
    CheckOlderCounterHelper(report, counter);
  }
  CheckCapacity(report, settings.path, settings.FileNameTemplate);
}

}  // namespace

void CheckCounterRange(SiteReport& report, const std::string& counter, std::int64_t number,
                       std::string_view name_template) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  const std::string stored = "the counter file " + counter + " holds " + std::to_string(number);
  const std::string restart = "write the number of the last posting into it (0 to start again)";
  if (number > kLargest - kCounterHeadroom) {
    const std::int64_t left = kLargest - number;
    report.Error(stored + ", " + std::to_string(left) + " below the largest number: " +
                     (left == 0 ? "" : "after " + std::to_string(left) + " more posting(s) ") +
                     "every posting answers \"No file name is available\"",
                 restart);
    return;
  }
  const std::uint64_t names = NumberTemplateNameCount(name_template);
  if (number >= 0 && static_cast<std::uint64_t>(number) + 1 >= names) {
    report.Error(stored + ", past the last number of " + std::string(name_template) +
                     ": the next postings take names cut to its digits (" +
                     ApplyNumberTemplate(number + 1, name_template) +
                     " next), over the numbers of older leaves",
                 "move old leaves out of the leaf directory and " + restart +
                     ", or add a # to the template");
  } else if (number < -1) {
    report.Warning(stored +
                       ", a negative number: the next postings take names with a minus "
                       "sign, like " +
                       ApplyNumberTemplate(number + 1, name_template),
                   restart);
  }
}

std::uint64_t CountTakenTemplateNames(const std::vector<std::string>& entries,
                                      std::string_view name_template) {
  std::set<std::string_view> taken;
  for (const std::string& entry : entries) {
    if (MatchesTemplate(entry, name_template)) {
      taken.insert(std::string_view(entry).substr(0, name_template.size()));
    }
  }
  return taken.size();
}

void CheckLeafNaming(SiteReport& report, const SessionSettings& settings, const std::string& file) {
  report.Setting("nameorder", settings.nameorder, "");
  if (!settings.FileNameTemplate.empty()) return CheckCounterMode(report, settings, file);
  report.Setting("FileNameTemplate", "", "");
  if (settings.nameorder == "num3d") {
    report.Note("naming: three-digit names 001, 002, ... (nameorder=num3d)");
    return CheckCapacity(report, settings.path, "###");
  }
  report.Note("naming: the request's time stamp");
  if (EqualsIgnoringAsciiCase(settings.nameorder, "num3d")) {
    report.Warning("nameorder " + settings.nameorder +
                       " is not num3d: the value is compared "
                       "exactly, so postings take time-stamp names",
                   "write nameorder=num3d for three-digit names");
  }
}

}  // namespace orvane
