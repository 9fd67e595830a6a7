#include "gate/text/path_text.h"

#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

// Whether a byte ends a directory part: the delimiter, or a drive colon where
// directories are separated by backslashes.
bool IsDirectoryEnd(char byte, char delimiter) {
  return byte == delimiter || (delimiter == '\\' && byte == ':');
}

// Only a delimiter in the second-byte range (a backslash, not a slash) can hide inside a
// double-byte character; any other delimiter is found byte by byte, which keeps paths
// in other encodings (UTF-8 on POSIX) intact.
bool CanBeSecondByte(char delimiter) { return IsSecondByte(delimiter); }

// Position just after the last directory end that is not a second byte; 0 when none.
std::size_t DirectoryPartLength(std::string_view path, char delimiter) {
  if (!CanBeSecondByte(delimiter)) return path.find_last_of(delimiter) + 1;  // npos + 1 == 0
  std::size_t length = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (CharacterLength(path, i) == 2) {
      ++i;
    } else if (IsDirectoryEnd(path[i], delimiter)) {
      length = i + 1;
    }
  }
  return length;
}

}  // namespace

bool EndsWithDelimiter(std::string_view text, char delimiter) {
  if (text.empty() || text.back() != delimiter) return false;
  if (!CanBeSecondByte(delimiter)) return true;
  // Only a scan from the start tells whether the last byte is a second byte.
  std::size_t i = 0;
  while (i + 1 < text.size()) i += CharacterLength(text, i);
  return i == text.size() - 1;
}

std::string IncludeTrailingDelimiter(std::string_view text, char delimiter) {
  std::string result(text);
  if (!EndsWithDelimiter(text, delimiter)) result.push_back(delimiter);
  return result;
}

std::string IncludeTrailingDelimiter(std::string_view text) {
  return IncludeTrailingDelimiter(text, platform::PathDelimiter());
}

std::string_view DirectoryPart(std::string_view path, char delimiter) {
  return path.substr(0, DirectoryPartLength(path, delimiter));
}

}  // namespace orvane
