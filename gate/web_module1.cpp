// Placeholder construction: replaced by the module pool work.
#include "gate/web_module1.h"

namespace orvane {

TWebModule1::TWebModule1() {
  TWebActionItem& item = Actions().Add();
  item.SetOnAction([this](TComponent* sender, TWebRequest& request, TWebResponse& response,
                          bool& handled) {
    WebModule1WebActionItem1Action(sender, request, response, handled);
  });
}

}  // namespace orvane
