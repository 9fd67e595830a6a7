#include "platform/posix/request_channels.h"

namespace orvane::platform::posix {
namespace {

RequestChannels* g_active_channels = nullptr;

}  // namespace

RequestChannels* ActiveRequestChannels() { return g_active_channels; }
void SetActiveRequestChannels(RequestChannels* channels) { g_active_channels = channels; }

}  // namespace orvane::platform::posix
