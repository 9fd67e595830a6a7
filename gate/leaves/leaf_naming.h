// Claiming a free base name for a posted leaf. A name is taken when its image file or
// its record file exists; a claim links the posting's draft under both names only when
// they are free, so two postings never get the same name, whichever naming mode they
// use, and the files appear whole.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gate/leaves/leaf_draft.h"
#include "platform/platform.h"

namespace orvane {

enum class LeafNamingOutcome { Claimed, NoNameLeft, CounterUnusable };

struct LeafNamingResult {
  LeafNamingOutcome outcome = LeafNamingOutcome::NoNameLeft;
  std::string name;  // the name the draft was published under, when Claimed
};

// How long a posting waits for a counter file that another posting holds: at most as
// long as attempts - 1 pauses of least_wait_ms plus a random 0 to wait_spread_ms - 1
// milliseconds would take. The wait follows the holder within a few milliseconds of its
// letting go; attempts also bounds how often a counter replaced meanwhile is opened again.
struct CounterWaitPolicy {
  int attempts = 100;
  int least_wait_ms = 300;
  int wait_spread_ms = 300;
};

// Time-stamp names: the stamp, then the stamp with suffixes 000, 001, ... up to this count.
inline constexpr int kStampSuffixCount = 10000;

// The first free name among the template's numbers 1, 2, 3, ...
LeafNamingResult ClaimTemplateName(std::string_view name_template, LeafDraft& draft);

// The first free name among the numbers after the one stored in the counter file, which
// is held exclusively from its read to its rewrite with the number taken. A missing
// counter file is created holding "0" CR LF, and a failure to create it is raised; the
// counter is unusable when other postings hold it through every attempt or its open
// fails for another reason. A stored text that is no number raises EInOutError. The
// counter is rewritten in place through its hold (the digits padded with spaces to the
// old text's length, then the file cut to the digits), so it never moves, never reads
// short, and its lock means the same to every posting; when the rewrite fails the error
// is raised and the draft is left published for its owner to withdraw.
LeafNamingResult ClaimCounterName(const std::string& counter_file, std::string_view name_template,
                                  LeafDraft& draft, const CounterWaitPolicy& wait = {});

// Creates the file exclusively; no file when the name is taken. Only a file takes a
// name: a directory there means the file cannot be made, and that error is raised.
std::optional<platform::File> CreateNewFile(const std::string& path);

// The first of the stamp itself and the stamp followed by 000, 001, ... (suffix_count
// suffixes) that try_claim takes, or none when it refuses every one. Time-stamp leaves and
// body dumps are named so: two requests of one millisecond never share a name.
std::optional<std::string> FirstFreeStampName(
    std::string_view stamp, const std::function<bool(const std::string&)>& try_claim,
    int suffix_count = kStampSuffixCount);

// The stamp itself or, when it is taken, the stamp followed by 000, 001, ...
LeafNamingResult ClaimStampName(std::string_view stamp, LeafDraft& draft,
                                int suffix_count = kStampSuffixCount);

// The counter file's number: one whole-number word after leading white space, 0 for a
// text of white space only; no value when the word is not a number.
std::optional<std::int64_t> ParseCounterText(std::string_view text);

}  // namespace orvane
