// Binds a module list to one request and response and hands the request to the
// dispatcher among the modules.
#pragma once

#include "host/web_dispatcher.h"
#include "host/web_module_list.h"
#include "host/web_request.h"
#include "host/web_response.h"

namespace orvane {

class TDefaultWebAppServices {
 public:
  void SetContext(TWebModuleList* list, TWebRequest* request, TWebResponse* response);
  // Throws EWebHostException when no module is or owns a dispatcher.
  bool DispatchRequest();
  void EndContext() {}
  // The dispatcher that reports an exception of the dispatch; none when there is none.
  TCustomWebDispatcher* ExceptionTarget();

 private:
  TCustomWebDispatcher* FindDispatcher() const;

  TWebModuleList* list_ = nullptr;
  TWebRequest* request_ = nullptr;
  TWebResponse* response_ = nullptr;
  TCustomWebDispatcher* dispatcher_ = nullptr;  // looked up once
};

}  // namespace orvane
