/* The floor of a persistent FastCGI responder: reads the whole body and answers a fixed
   page, doing nothing else. Behind the same web server as the gate, its processor time
   is what the server and the FastCGI round trip cost. */
#include <fcgiapp.h>

int main(void) {
  static char buffer[65536];
  FCGX_Request request;
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, 0, 0) != 0) return 1;
  while (FCGX_Accept_r(&request) >= 0) {
    while (FCGX_GetStr(buffer, sizeof buffer, request.in) > 0) {
    }
    FCGX_PutS("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok",
              request.out);
    FCGX_Finish_r(&request);
  }
  return 0;
}
