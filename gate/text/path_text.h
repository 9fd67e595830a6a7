// Directory texts: the delimiter rules for joining a directory and a file name.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// True when the text's last byte is the delimiter and not the second byte of a
// Shift_JIS double-byte character.
bool EndsWithDelimiter(std::string_view text, char delimiter);

// The text with a delimiter appended unless it already ends in one.
std::string IncludeTrailingDelimiter(std::string_view text, char delimiter);
std::string IncludeTrailingDelimiter(std::string_view text);  // the system's delimiter

// The directory part of a path, up to and including its last delimiter (on systems
// whose delimiter is a backslash, a drive colon counts too); empty when it has none.
std::string_view DirectoryPart(std::string_view path, char delimiter);

}  // namespace orvane
