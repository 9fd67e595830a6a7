#include "host/http_text.h"

namespace orvane {

std::string BackslashesToSlashes(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

}  // namespace orvane
