#include "host/relay_exception.h"

#include "host/web_dispatcher.h"

namespace orvane {

void RelayException(TComponent* sender) {
  bool handled = false;
  auto* dispatcher = dynamic_cast<TCustomWebDispatcher*>(sender);
  if (dispatcher != nullptr) {
    try {
      throw;
    } catch (const Exception& e) {
      dispatcher->ReportException(e, handled);
    } catch (...) {
      // Only the system's own errors can be reported as a page.
    }
  }
  if (!handled) throw;
}

}  // namespace orvane
