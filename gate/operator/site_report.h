// The plain-text report of a site check: sections, settings and what they resolved to,
// and every problem with its fix, counted as errors or warnings.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

class SiteReport {
 public:
  void Section(std::string_view title);
  // "  key = value -> resolved"; an empty value shows as "(not set)".
  void Setting(std::string_view key, std::string_view value, std::string_view resolved);
  void Note(std::string_view text);
  // An error keeps the site from serving every command; a warning does not.
  void Error(std::string_view problem, std::string_view fix);
  void Warning(std::string_view problem, std::string_view fix);

  int Errors() const { return errors_; }
  int Warnings() const { return warnings_; }
  // The report with its closing result line.
  std::string Text() const;

 private:
  void Problem(std::string_view label, std::string_view problem, std::string_view fix);

  std::string text_;
  int errors_ = 0;
  int warnings_ = 0;
};

}  // namespace orvane
