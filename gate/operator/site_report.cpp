#include "gate/operator/site_report.h"

namespace orvane {
namespace {

std::string Count(int count, std::string_view noun) {
  std::string text = std::to_string(count) + " " + std::string(noun);
  if (count != 1) text += "s";
  return text;
}

}  // namespace

void SiteReport::Section(std::string_view title) { text_.append(title).append("\n"); }

void SiteReport::Setting(std::string_view key, std::string_view value, std::string_view resolved) {
  text_.append("  ").append(key).append(" = ");
  text_.append(value.empty() ? std::string_view("(not set)") : value);
  if (!resolved.empty()) text_.append(" -> ").append(resolved);
  text_.append("\n");
}

void SiteReport::Note(std::string_view text) { text_.append("  ").append(text).append("\n"); }

void SiteReport::Error(std::string_view problem, std::string_view fix) {
  ++errors_;
  Problem("ERROR", problem, fix);
}

void SiteReport::Warning(std::string_view problem, std::string_view fix) {
  ++warnings_;
  Problem("WARNING", problem, fix);
}

void SiteReport::Problem(std::string_view label, std::string_view problem, std::string_view fix) {
  text_.append("  ").append(label).append(": ").append(problem).append("\n");
  if (!fix.empty()) text_.append("    Fix: ").append(fix).append("\n");
}

std::string SiteReport::Text() const {
  std::string text = text_;
  text.append("Result: ").append(Count(errors_, "error")).append(", ");
  text.append(Count(warnings_, "warning")).append(": ");
  text.append(errors_ == 0 ? "the site can serve every command.\n"
                           : "the site cannot serve every command.\n");
  return text;
}

}  // namespace orvane
