/*
 * measure: runs one command and reports what it cost.
 *
 *   measure REPORT_FILE TIMEOUT_SECONDS COMMAND [ARGS...]
 *
 * The command inherits standard input, output and error. When it has ended, one line goes to
 * REPORT_FILE:
 *
 *   STATUS USER_US SYSTEM_US MAXRSS_KIB WALL_US
 *
 * STATUS is the exit code, or 128 plus the signal number when a signal ended the command, or
 * "timeout" when it ran past TIMEOUT_SECONDS and was killed. The times and the peak resident set
 * come from wait4() for that one process, so nothing else running on the machine is counted: on a
 * machine shared with busy builds, processor time is the figure to compare. The wall time is
 * kept for the start-up measurement of an idle machine.
 *
 * The benchmark runner compiles this file with the system C compiler on each run; it has no other
 * dependency than POSIX.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t timed_out = 0;
static volatile pid_t child = 0;

static void on_alarm(int signo) {
  (void)signo;
  timed_out = 1;
  if (child > 0) kill(child, SIGKILL);
}

static long long now_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static long long tv_us(struct timeval tv) {
  return (long long)tv.tv_sec * 1000000LL + tv.tv_usec;
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s REPORT_FILE TIMEOUT_SECONDS COMMAND [ARGS...]\n", argv[0]);
    return 2;
  }
  char *end = NULL;
  long timeout_s = strtol(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0' || timeout_s <= 0 || timeout_s > 86400) {
    fprintf(stderr, "measure: bad timeout '%s'\n", argv[2]);
    return 2;
  }
  FILE *report = fopen(argv[1], "w");
  if (!report) {
    fprintf(stderr, "measure: cannot write '%s': %s\n", argv[1], strerror(errno));
    return 2;
  }

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_alarm;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, NULL);

  long long start = now_us();
  pid_t pid = fork();
  if (pid < 0) {
    fprintf(stderr, "measure: fork failed: %s\n", strerror(errno));
    return 2;
  }
  if (pid == 0) {
    fclose(report);
    execvp(argv[3], argv + 3);
    fprintf(stderr, "measure: cannot run '%s': %s\n", argv[3], strerror(errno));
    _exit(127);
  }
  child = pid;
  alarm((unsigned)timeout_s);

  int status = 0;
  struct rusage ru;
  pid_t got;
  do {
    got = wait4(pid, &status, 0, &ru);
  } while (got < 0 && errno == EINTR);
  long long wall = now_us() - start;
  alarm(0);
  if (got < 0) {
    fprintf(stderr, "measure: wait failed: %s\n", strerror(errno));
    return 2;
  }

  if (timed_out) {
    fprintf(report, "timeout");
  } else if (WIFEXITED(status)) {
    fprintf(report, "%d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    fprintf(report, "%d", 128 + WTERMSIG(status));
  } else {
    fprintf(report, "255");
  }
  fprintf(report, " %lld %lld %ld %lld\n", tv_us(ru.ru_utime), tv_us(ru.ru_stime), ru.ru_maxrss,
          wall);
  return fclose(report) == 0 ? 0 : 2;
}
