/* What the posting floors share: the part delimiter from CONTENT_TYPE, storing the
   image under a fresh name in the directory given as the first argument, the reply. */
#define _GNU_SOURCE /* memmem */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static size_t delimiter_of(char* out, size_t room) {
  const char* type = getenv("CONTENT_TYPE");
  const char* boundary = type ? strstr(type, "boundary=") : NULL;
  if (boundary == NULL) return 0;
  int n = snprintf(out, room, "\r\n--%s", boundary + 9);
  return n > 0 && (size_t)n < room ? (size_t)n : 0;
}

static int open_image(const char* dir) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%ld.jpg", dir, (long)getpid());
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

static int write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put <= 0) return -1;
    data += put;
    size -= (size_t)put;
  }
  return 0;
}

static int reply(int stored) {
  static const char ok[] =
      "Status: 200 OK\r\nContent-Type: text/html\r\n\r\n<html>stored</html>\r\n";
  static const char no[] =
      "Status: 200 OK\r\nContent-Type: text/html\r\n\r\n<html>no file</html>\r\n";
  return write_all(1, stored ? ok : no, stored ? sizeof ok - 1 : sizeof no - 1) == 0 ? 0 : 1;
}
