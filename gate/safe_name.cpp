#include "gate/safe_name.h"

#include "platform/shift_jis.h"

namespace orvane {

bool IsSafeFileNamePart(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (CharacterLength(name, i) == 2) {
      // Only a backslash hides as a second byte; "/", ":" or a control byte still count.
      c = static_cast<unsigned char>(name[++i]);
      if (c == '\\') continue;
    }
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

}  // namespace orvane
