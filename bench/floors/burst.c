/* Starts a program COUNT times with at most INFLIGHT running at once, each with BODY on
   standard input and standard output discarded, the way a busy web server does. Appends
   each run's wall time in microseconds to LATENCIES. Exit code 1 when a run failed.
   usage: burst COUNT INFLIGHT BODY LATENCIES PROGRAM [ARG...] */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: burst COUNT INFLIGHT BODY LATENCIES PROGRAM [ARG...]\n");
    return 2;
  }
  const int count = atoi(argv[1]), inflight = atoi(argv[2]);
  FILE* latencies = fopen(argv[4], "a");
  if (latencies == NULL || count <= 0 || inflight <= 0) return 2;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, argv[3], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t* pids = calloc((size_t)inflight, sizeof *pids);
  long long* starts = calloc((size_t)inflight, sizeof *starts);
  int started = 0, running = 0, failed = 0;
  while (started < count || running > 0) {
    while (started < count && running < inflight) {
      int slot = 0;
      while (pids[slot] != 0) ++slot;
      starts[slot] = now_us();
      if (posix_spawn(&pids[slot], argv[5], &actions, NULL, argv + 5, environ) != 0) return 2;
      ++started;
      ++running;
    }
    int status = 0;
    pid_t done = wait(&status);
    if (done < 0) return 2;
    const long long end = now_us();
    for (int slot = 0; slot < inflight; ++slot) {
      if (pids[slot] != done) continue;
      fprintf(latencies, "%lld\n", end - starts[slot]);
      pids[slot] = 0;
      --running;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = 1;
  }
  fclose(latencies);
  return failed;
}
