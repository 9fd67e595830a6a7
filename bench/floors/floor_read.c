/* The floor of a CGI request: read the declared body, answer with a short page. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(void) {
  const char* declared = getenv("CONTENT_LENGTH");
  long length = declared ? atol(declared) : 0;
  if (length > 0) {
    char* body = malloc((size_t)length);
    if (body == NULL) return 1;
    long done = 0;
    while (done < length) {
      ssize_t got = read(0, body + done, (size_t)(length - done));
      if (got <= 0) break;
      done += got;
    }
    free(body);
  }
  static const char reply[] =
      "Status: 200 OK\r\nContent-Type: text/html\r\n\r\n<html>ok</html>\r\n";
  return write(1, reply, sizeof reply - 1) == (ssize_t)(sizeof reply - 1) ? 0 : 1;
}
