/* A posting floor that reads the whole body, finds the image part with memmem and
   stores the image. */
#include "upload_common.h"

int main(int argc, char** argv) {
  char delimiter[512];
  const size_t dlen = delimiter_of(delimiter, sizeof delimiter);
  const char* declared = getenv("CONTENT_LENGTH");
  long length = declared ? atol(declared) : 0;
  if (argc < 2 || dlen == 0 || length <= 0) return reply(0);
  char* body = malloc((size_t)length);
  if (body == NULL) return 1;
  size_t done = 0;
  while (done < (size_t)length) {
    ssize_t got = read(0, body + done, (size_t)length - done);
    if (got <= 0) break;
    done += (size_t)got;
  }
  const char* file = memmem(body, done, "filename=\"", 10);
  const char* start = file ? memmem(file, done - (size_t)(file - body), "\r\n\r\n", 4) : NULL;
  if (start == NULL) return reply(0);
  start += 4;
  const char* end = memmem(start, done - (size_t)(start - body), delimiter, dlen);
  if (end == NULL) return reply(0);
  int fd = open_image(argv[1]);
  int stored = fd >= 0 && write_all(fd, start, (size_t)(end - start)) == 0;
  if (fd >= 0) close(fd);
  return reply(stored);
}
