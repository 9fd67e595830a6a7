#include "gate/leaves/leaf_naming.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

#include "gate/leaves/number_template.h"
#include "gate/text/path_text.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"
#include "platform/exception.h"

namespace orvane {
namespace {

// A record extension equal to the image's would let the record overwrite the image.
bool ExtensionsCollide(const LeafDraft& draft) {
  return EqualsIgnoringAsciiCase(draft.Files().image_ext, draft.Files().record_ext);
}

LeafNamingResult Claimed(const std::string& name) {
  return LeafNamingResult{LeafNamingOutcome::Claimed, name};
}

LeafNamingResult NotClaimed(LeafNamingOutcome outcome) { return LeafNamingResult{outcome, {}}; }

// The first free name among the template's numbers first, first + 1, ..., trying as many
// numbers as the template has names. Gives the number taken through *taken.
LeafNamingResult ClaimNumbered(std::int64_t first, std::string_view name_template, LeafDraft& draft,
                               std::int64_t* taken) {
  const std::uint64_t names = NumberTemplateNameCount(name_template);
  std::int64_t number = first;
  for (std::uint64_t tried = 0; tried < names; ++tried) {
    if (tried > 0 && __builtin_add_overflow(number, 1, &number)) break;
    const std::string name = ApplyNumberTemplate(number, name_template);
    if (draft.TryPublish(name)) {
      *taken = number;
      return Claimed(name);
    }
  }
  return NotClaimed(LeafNamingOutcome::NoNameLeft);
}

constexpr std::string_view kFreshCounterText = "0\r\n";

// Gives a missing counter file its first content; true when this call created it. A
// posting that creates it at the same moment wins. A counter that cannot be made (no
// directory, a directory at its name, no permission) raises the file error.
bool CreateMissingCounter(const std::string& counter_file) {
  if (platform::FileExists(counter_file)) return false;
  std::optional<platform::File> file;
  try {
    file = CreateNewFile(counter_file);
  } catch (const EOSFileError& error) {
    // Made, but another posting found it and locked it before this one could: it is that
    // posting's counter now, read as 0 while empty, and this one waits for it as usual.
    if (error.IsSharingViolation()) return false;
    throw;
  }
  if (!file) return false;
  file->WriteAll(kFreshCounterText);
  file->Close();
  return true;
}

struct OpenedCounter {
  std::optional<platform::File> file;  // none when the counter cannot be used now
  bool created = false;                // this posting made the counter file
};

// How long a posting may wait for the counter in all: as long as the refused attempts
// with a random pause after each would take, so the bound stays what it was. A small
// generator serves: its draws only spread the bound, and every posting pays its set-up.
int CounterWaitBudget(const CounterWaitPolicy& wait) {
  const std::uint64_t seed = platform::ClockSeed();
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(seed ^ (seed >> 32)));
  std::uniform_int_distribution<int> spread(0, std::max(wait.wait_spread_ms, 1) - 1);
  long long total = 0;
  for (int pause = 1; pause < wait.attempts; ++pause) total += wait.least_wait_ms + spread(random);
  return static_cast<int>(std::min<long long>(total, INT_MAX));
}

// Opens the counter file for this posting alone, making it when it is missing and
// waiting while another posting holds it: the open follows the holder within a few
// milliseconds of its letting go, until the wait budget runs out. The counter cannot be
// used when it stays held that long, when every attempt finds it replaced, or when its
// open fails for another reason than its absence. What stands at its name and is no file
// raises the read error.
OpenedCounter OpenCounter(const std::string& counter_file, const CounterWaitPolicy& wait) {
  OpenedCounter counter;
  const std::int64_t deadline = platform::MonotonicMilliseconds() + CounterWaitBudget(wait);
  // The counter is there but before a site's first posting: it is made only after an
  // open found it missing.
  bool missing = false;
  for (int attempt = 1; attempt <= wait.attempts; ++attempt) {
    if (missing) counter.created |= CreateMissingCounter(counter_file);
    const std::int64_t left =
        std::max<std::int64_t>(deadline - platform::MonotonicMilliseconds(), 0);
    try {
      platform::File file = platform::File::OpenWaitingAtMost(
          counter_file, platform::OpenMode::ReadWriteExclusive, static_cast<int>(left));
      // A counter replaced by a rewrite, or removed, while this posting waited for it is
      // no longer the counter: the one at its name now is opened.
      if (!file.IsSameFileAs(counter_file)) continue;
      counter.file = std::move(file);
      return counter;
    } catch (const EInOutError&) {
      throw;
    } catch (const EOSFileError& error) {
      if (error.IsSharingViolation()) return counter;  // held until the budget ran out
      // Never made, or removed meanwhile: made (again). A counter replaced while this
      // open found it shows as a stale handle on a network file system: the one at its
      // name now is opened.
      const bool there = platform::FileExists(counter_file);
      if (there && !platform::IsStaleFileError(error.ErrorCode())) return counter;
      missing = !there;
    }
  }
  return counter;
}

// Rewritten through the hold, so the counter file never moves and its lock means the
// same to every posting, also across the clients of a network file system. The new
// digits go over the old text in one write, padded with spaces to its length, and only
// then is the file cut to the digits: a posting killed in between leaves the new number
// followed by spaces, never a short or empty counter.
void RewriteCounter(platform::File& counter, std::string_view old_text, std::int64_t taken) {
  std::string text = std::to_string(taken);
  const std::size_t digits = text.size();
  if (old_text.size() > digits) text.append(old_text.size() - digits, ' ');
  counter.OverwriteAndCut(text, digits);
  counter.Close();
}

// Claims a name with both files created empty, for callers that fill them themselves.
template <typename Claim>
std::string ClaimEmptyName(const LeafFileSet& files, Claim claim) {
  LeafDraft draft(files, "", "");
  const LeafNamingResult result = claim(draft);
  if (result.outcome != LeafNamingOutcome::Claimed) return std::string();
  draft.Finish();
  return result.name;
}

}  // namespace

LeafNamingResult ClaimTemplateName(std::string_view name_template, LeafDraft& draft) {
  if (ExtensionsCollide(draft)) return NotClaimed(LeafNamingOutcome::NoNameLeft);
  std::int64_t taken = 0;
  return ClaimNumbered(1, name_template, draft, &taken);
}

LeafNamingResult ClaimCounterName(const std::string& counter_file, std::string_view name_template,
                                  LeafDraft& draft, const CounterWaitPolicy& wait) {
  if (ExtensionsCollide(draft)) return NotClaimed(LeafNamingOutcome::NoNameLeft);
  OpenedCounter opened = OpenCounter(counter_file, wait);
  if (!opened.file) return NotClaimed(LeafNamingOutcome::CounterUnusable);
  platform::File* counter = &*opened.file;
  const std::string counter_text = counter->ReadAll();
  const std::optional<std::int64_t> stored = ParseCounterText(counter_text);
  if (!stored) {
    throw EInOutError("Invalid numeric input: \"" + platform::FullPath(counter_file) + "\"",
                      platform::kInvalidNumericInput, false);
  }
  std::int64_t first = 0;
  if (__builtin_add_overflow(*stored, 1, &first)) {
    return NotClaimed(LeafNamingOutcome::NoNameLeft);
  }
  std::int64_t taken = 0;
  LeafNamingResult result = ClaimNumbered(first, name_template, draft, &taken);
  if (result.outcome == LeafNamingOutcome::Claimed) {
    // Replaced while still held, so no other posting reads it in between.
    RewriteCounter(*counter, counter_text, taken);
  } else if (opened.created && counter_text == kFreshCounterText) {
    // This posting made the counter and no posting drew from it: removed while still held.
    platform::RemoveFile(counter_file);
  }
  return result;
}

std::optional<platform::File> CreateNewFile(const std::string& path) {
  try {
    return platform::File::Open(path, platform::OpenMode::CreateNewExclusive);
  } catch (const EOSFileError& error) {
    if (error.ErrorCode() == platform::FileExistsErrorCode() && !platform::DirectoryExists(path)) {
      return std::nullopt;
    }
    throw;
  }
}

std::optional<std::string> FirstFreeStampName(
    std::string_view stamp, const std::function<bool(const std::string&)>& try_claim,
    int suffix_count) {
  const std::string plain(stamp);
  if (try_claim(plain)) return plain;
  for (int suffix = 0; suffix < suffix_count; ++suffix) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", suffix);
    if (try_claim(plain + digits)) return plain + digits;
  }
  return std::nullopt;
}

LeafNamingResult ClaimStampName(std::string_view stamp, LeafDraft& draft, int suffix_count) {
  if (ExtensionsCollide(draft)) return NotClaimed(LeafNamingOutcome::NoNameLeft);
  const std::optional<std::string> name = FirstFreeStampName(
      stamp, [&draft](const std::string& candidate) { return draft.TryPublish(candidate); },
      suffix_count);
  return name ? Claimed(*name) : NotClaimed(LeafNamingOutcome::NoNameLeft);
}

std::optional<std::int64_t> ParseCounterText(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 32) ++start;
  std::size_t end = start;
  while (end < text.size() && static_cast<unsigned char>(text[end]) > 32) ++end;
  if (start == end) return 0;
  const char* first = text.data() + start;
  const char* last = text.data() + end;
  if (*first == '+') {
    ++first;
    if (first == last || *first == '-') return std::nullopt;
  }
  std::int64_t value = 0;
  const auto [stop, error] = std::from_chars(first, last, value);
  if (error != std::errc() || stop != last) return std::nullopt;
  return value;
}

// The name returned has its image and record files created, empty, for the caller;
// the empty text when no name is free or the counter cannot be used.
std::string TWebModule1::NextCounterFileName(const std::string& counter_file,
                                             const std::string& name_template,
                                             const std::string& dir, const std::string& image_ext,
                                             const std::string& record_ext) {
  return ClaimEmptyName(LeafFileSet{dir, image_ext, record_ext}, [&](LeafDraft& draft) {
    return ClaimCounterName(counter_file, name_template, draft);
  });
}

std::string TWebModule1::NextTemplateFileName(const std::string& name_template,
                                              const std::string& dir, const std::string& image_ext,
                                              const std::string& record_ext) {
  return ClaimEmptyName(LeafFileSet{dir, image_ext, record_ext},
                        [&](LeafDraft& draft) { return ClaimTemplateName(name_template, draft); });
}

}  // namespace orvane
