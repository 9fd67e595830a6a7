// The application-wide exception hook while requests are handled.
#pragma once

#include "host/component.h"

namespace orvane {

// Call only from inside an exception handler. A dispatcher sender reports an Exception
// in flight; when it handled it, this returns; otherwise the same exception continues.
void RelayException(TComponent* sender);

}  // namespace orvane
