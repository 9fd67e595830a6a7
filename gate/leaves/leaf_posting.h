// Helpers of the postleaf command: the stored extension of an accepted image and the
// extensions it may be stored under.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace orvane {

// The extension a leaf image is stored with: the file name's text from its last "."
// when no "\", ":" or "/" follows it (a "\" that is the second byte of a double-byte
// character does not count), ASCII letters lower-cased; empty when there is none.
std::string LeafImageExtension(std::string_view file_name);

// False for an extension the image cannot be stored under: the record's own ".txt",
// which would overwrite the image, or one holding a control byte.
bool IsStorableImageExtension(std::string_view extension);

// True for the lower-cased extensions of the image formats a posted file may be stored
// under: those of image_types.h, ".png", ".jpg", ".jpeg", ".jpe", ".jfif", ".gif", ".bmp"
// and ".webp".
bool IsImageExtension(std::string_view extension);
// Those extensions, in the table's order.
std::span<const std::string_view> ImageExtensions();

}  // namespace orvane
