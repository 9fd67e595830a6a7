// Claiming a free base name for a posted leaf. A name is taken when its image file or
// its record file exists; a claim creates both files exclusively, so two postings never
// get the same name, whichever naming mode they use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvane {

// The leaf directory (with or without its trailing delimiter) and the two extensions
// that make the image and the record file of a base name.
struct LeafFileSet {
  std::string dir;
  std::string image_ext;
  std::string record_ext;
};

// A claimed base name: its two files were created by the claim and are held open and
// empty. Dropping the claim before Keep or Write removes both files again.
class LeafClaim {
 public:
  LeafClaim() = default;
  LeafClaim(std::string name, platform::File image, platform::File record);
  LeafClaim(LeafClaim&& other) noexcept;
  LeafClaim& operator=(LeafClaim&& other) noexcept;
  LeafClaim(const LeafClaim&) = delete;
  LeafClaim& operator=(const LeafClaim&) = delete;
  ~LeafClaim();

  bool IsHeld() const { return held_; }
  const std::string& Name() const { return name_; }
  const std::string& ImagePath() const { return image_path_; }
  const std::string& RecordPath() const { return record_path_; }

  // Writes both files whole and closes them; they stay. On failure both are removed.
  void Write(std::string_view image_bytes, std::string_view record_bytes);
  // Closes both files and leaves them, empty, reserved for the caller.
  void Keep();

 private:
  void Abandon() noexcept;

  std::string name_;
  std::string image_path_;
  std::string record_path_;
  platform::File image_;
  platform::File record_;
  bool held_ = false;
};

enum class LeafNamingOutcome { Claimed, NoNameLeft, CounterUnusable };

struct LeafNamingResult {
  LeafNamingOutcome outcome = LeafNamingOutcome::NoNameLeft;
  LeafClaim claim;  // held when the outcome is Claimed
};

// How long a posting waits for a counter file that another posting holds: after each
// refused open, least_wait_ms plus a random 0 to wait_spread_ms - 1 milliseconds.
struct CounterWaitPolicy {
  int attempts = 100;
  int least_wait_ms = 300;
  int wait_spread_ms = 300;
};

// Time-stamp names: the stamp, then the stamp with suffixes 000, 001, ... up to this count.
inline constexpr int kStampSuffixCount = 10000;

// Creates both files of the name exclusively; no claim when either already exists as a
// file. Other file errors are raised, a directory at either name among them.
std::optional<LeafClaim> TryClaimLeafName(const LeafFileSet& files, const std::string& name);

// The first free name among the template's numbers 1, 2, 3, ...
LeafNamingResult ClaimTemplateName(std::string_view name_template, const LeafFileSet& files);

// The first free name among the numbers after the one stored in the counter file, which
// is held exclusively from its read to its rewrite with the number taken. A missing
// counter file is created holding "0" CR LF, and a failure to create it is raised; the
// counter is unusable when other postings hold it through every attempt or its open
// fails for another reason. A stored text that is no number raises EInOutError.
LeafNamingResult ClaimCounterName(const std::string& counter_file, std::string_view name_template,
                                  const LeafFileSet& files, const CounterWaitPolicy& wait = {});

// The stamp itself or, when it is taken, the stamp followed by 000, 001, ...
LeafNamingResult ClaimStampName(std::string_view stamp, const LeafFileSet& files,
                                int suffix_count = kStampSuffixCount);

// The counter file's number: one whole-number word after leading white space, 0 for a
// text of white space only; no value when the word is not a number.
std::optional<std::int64_t> ParseCounterText(std::string_view text);

}  // namespace orvane
