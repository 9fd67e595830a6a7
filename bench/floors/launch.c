/* Starts a program the way a web server starts a CGI program, for hyperfine without a
   shell: the body file on standard input, the environment given, nothing else.
   usage: launch BODY [NAME=VALUE...] -- PROGRAM [ARG...]
   With PROGRAM "-" it only sets up and exits, which times the launcher itself. */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  int fd = open(argv[1], O_RDONLY);
  if (fd < 0 || dup2(fd, 0) < 0) return 2;
  if (fd != 0) close(fd);
  char* env[64];
  int count = 0, at = 2;
  while (at < argc && strcmp(argv[at], "--") != 0 && count < 63) env[count++] = argv[at++];
  env[count] = NULL;
  if (at + 1 >= argc) return 2;
  if (strcmp(argv[at + 1], "-") == 0) return 0;
  execve(argv[at + 1], argv + at + 1, env);
  return 127;
}
