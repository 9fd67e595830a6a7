/* A posting floor that streams: reads the body in pieces, finds the image part and
   writes the image out as it arrives, holding back only what may start a delimiter. */
#include "upload_common.h"

enum { kPiece = 256 * 1024, kHeaderRoom = 64 * 1024 };

int main(int argc, char** argv) {
  char delimiter[512];
  const size_t dlen = delimiter_of(delimiter, sizeof delimiter);
  if (argc < 2 || dlen == 0) return reply(0);
  char* buffer = malloc(kPiece + kHeaderRoom);
  if (buffer == NULL) return 1;
  size_t held = 0;
  int in_image = 0, stored = 0, fd = -1;
  for (;;) {
    ssize_t got = read(0, buffer + held, kPiece);
    if (got <= 0) break;
    held += (size_t)got;
    if (!in_image) {
      const char* file = memmem(buffer, held, "filename=\"", 10);
      const char* start = file ? memmem(file, held - (size_t)(file - buffer), "\r\n\r\n", 4) : NULL;
      if (start == NULL) {
        /* Keep a tail that may hold the start of the image part's header. */
        size_t keep = held < kHeaderRoom ? held : kHeaderRoom;
        memmove(buffer, buffer + held - keep, keep);
        held = keep;
        continue;
      }
      start += 4;
      held -= (size_t)(start - buffer);
      memmove(buffer, start, held);
      in_image = 1;
      fd = open_image(argv[1]);
      if (fd < 0) return reply(0);
    }
    const char* end = memmem(buffer, held, delimiter, dlen);
    if (end != NULL) {
      stored = write_all(fd, buffer, (size_t)(end - buffer)) == 0;
      break;
    }
    size_t safe = held >= dlen ? held - (dlen - 1) : 0;
    if (write_all(fd, buffer, safe) != 0) break;
    memmove(buffer, buffer + safe, held - safe);
    held -= safe;
  }
  if (fd >= 0) close(fd);
  /* The rest of the body is read so the web server is never left writing. */
  while (read(0, buffer, kPiece) > 0) {
  }
  return reply(stored);
}
