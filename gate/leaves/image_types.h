// The image types of a posting, in one table: the content type a browser sends for an
// image file, whether the form decoder takes an upload part of that type as the posting's
// image, and the extensions a posted image is stored under. A browser names the type
// from the file's extension, so a GIF, BMP or WebP file comes as a part the decoder drops
// and its posting is answered "There is no attached file"; those extensions are stored
// when a part of a taken type brings them, and for the operator's default image.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace orvane {

struct ImageType {
  std::string_view content_type;
  bool taken_by_decoder;
  std::array<std::string_view, 4> extensions;  // lower-cased; the empty ones are unused
};

inline constexpr ImageType kImageTypes[] = {
    {"image/png", true, {".png", "", "", ""}},
    {"image/x-png", true, {"", "", "", ""}},
    {"image/jpeg", true, {".jpg", ".jpeg", ".jpe", ".jfif"}},
    {"image/pjpeg", true, {"", "", "", ""}},
    {"image/gif", false, {".gif", "", "", ""}},
    {"image/bmp", false, {".bmp", "", "", ""}},
    {"image/webp", false, {".webp", "", "", ""}},
};

constexpr std::size_t ImageExtensionCount() {
  std::size_t count = 0;
  for (const ImageType& type : kImageTypes) {
    for (const std::string_view extension : type.extensions) count += extension.empty() ? 0 : 1;
  }
  return count;
}

constexpr std::array<std::string_view, ImageExtensionCount()> ImageExtensionList() {
  std::array<std::string_view, ImageExtensionCount()> extensions{};
  std::size_t n = 0;
  for (const ImageType& type : kImageTypes) {
    for (const std::string_view extension : type.extensions) {
      if (!extension.empty()) extensions[n++] = extension;
    }
  }
  return extensions;
}

// Every extension of the table, in its order.
inline constexpr std::array<std::string_view, ImageExtensionCount()> kImageExtensions =
    ImageExtensionList();

}  // namespace orvane
