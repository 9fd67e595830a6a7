// Construction of the gate's module from its stored description.
#include "gate/web_module1.h"

namespace orvane {

TWebModule1::TWebModule1() {
  LoadDescription([this] {
    SetName("WebModule1");
    OldCreateOrder = false;
    TWebActionItem& item = Actions().Add();
    item.SetName("WebActionItem1");
    item.SetOnAction(
        [this](TComponent* sender, TWebRequest& request, TWebResponse& response, bool& handled) {
          WebModule1WebActionItem1Action(sender, request, response, handled);
        });
    Left = 571;
    Top = 244;
    Height = 150;
    Width = 215;
  });
}

}  // namespace orvane
