// Placeholder: replaced by the request handler work.
#include "gate/web_module1.h"

namespace orvane {
void TWebModule1::WebModule1WebActionItem1Action(TComponent*, TWebRequest&, TWebResponse&, bool&) {}
}  // namespace orvane
