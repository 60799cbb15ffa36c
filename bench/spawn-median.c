/* A small spawn loop: runs the cases of a case file in rounds (one timed run of each case
 * per round, so that drift on the machine touches every case alike) and prints, per case,
 * the median wall time of its timed runs and the median CPU time (user + system) of the child.
 *
 * The order of the cases is shuffled anew every round (with a fixed seed, so runs repeat),
 * so that whatever a case leaves behind (a daemon still busy, a disk flush under way) lands
 * on every other case alike rather than always on the one after it.
 *
 * Usage: spawn-median CASEFILE ROUNDS WARMUP_ROUNDS MAX_SECONDS
 *   Stops after ROUNDS rounds, or earlier once MAX_SECONDS have passed (but never before
 *   5 timed rounds). Warm-up rounds are run first and not counted.
 *
 * Case file, one keyword per line; a case starts with "case":
 *   case NAME        name printed in the results (no white space)
 *   env KEY=VALUE    set in the child's environment (over the inherited one); repeatable
 *   in FILE          the child's standard input (default /dev/null)
 *   prepare COMMAND  a /bin/sh command run, untimed, before each run of the case
 *   status N         the exit status every run must end with (default 0)
 *   arg WORD         the program and its arguments, one per line, in order
 *
 * Each run is timed from just before posix_spawn to the return of wait4, with
 * CLOCK_MONOTONIC; standard output and standard error of the child go to /dev/null. No
 * shell stands between the loop and the program. A run that ends with another status stops
 * everything with status 1, naming the case.
 *
 * Output, one line per case, tab-separated:
 *   NAME  median_ms  p25_ms  p75_ms  min_ms  cpu_median_ms  runs
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { max_cases = 64, max_items = 64, min_rounds = 5 };

struct bench_case {
  char* name;
  char* input;
  char* prepare;
  int status;
  char* env[max_items];
  int env_count;
  char* argv[max_items + 1];
  int argc;
  char** envp;
  double* wall;
  double* cpu;
  int runs;
};

static struct bench_case cases[max_cases];
static int case_count;

static void fail(const char* message, const char* detail) {
  fprintf(stderr, "spawn-median: %s%s%s\n", message, detail ? ": " : "", detail ? detail : "");
  exit(1);
}

static char* copy(const char* text) {
  char* result = strdup(text);
  if (result == NULL) fail("out of memory", NULL);
  return result;
}

static void read_cases(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == NULL) fail("cannot open the case file", path);
  char* line = NULL;
  size_t room = 0;
  ssize_t length;
  struct bench_case* current = NULL;
  while ((length = getline(&line, &room, file)) >= 0) {
    if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
    if (length == 0 || line[0] == '#') continue;
    char* space = strchr(line, ' ');
    const char* value = space ? space + 1 : "";
    if (space) *space = '\0';
    if (strcmp(line, "case") == 0) {
      if (case_count == max_cases) fail("too many cases", NULL);
      current = &cases[case_count++];
      current->name = copy(value);
      continue;
    }
    if (current == NULL) fail("a case file must start with \"case\"", line);
    if (strcmp(line, "env") == 0) {
      if (current->env_count == max_items) fail("too many env lines", current->name);
      current->env[current->env_count++] = copy(value);
    } else if (strcmp(line, "in") == 0) {
      current->input = copy(value);
    } else if (strcmp(line, "prepare") == 0) {
      current->prepare = copy(value);
    } else if (strcmp(line, "status") == 0) {
      current->status = atoi(value);
    } else if (strcmp(line, "arg") == 0) {
      if (current->argc == max_items) fail("too many arg lines", current->name);
      current->argv[current->argc++] = copy(value);
    } else {
      fail("unknown keyword in the case file", line);
    }
  }
  free(line);
  fclose(file);
  if (case_count == 0) fail("no cases", path);
}

/* The inherited environment less the keys a case sets, then the case's own settings. */
static char** build_environment(const struct bench_case* c) {
  size_t inherited = 0;
  while (environ[inherited] != NULL) ++inherited;
  char** envp = calloc(inherited + (size_t)c->env_count + 1, sizeof *envp);
  if (envp == NULL) fail("out of memory", NULL);
  size_t count = 0;
  for (size_t i = 0; i < inherited; ++i) {
    int overridden = 0;
    for (int j = 0; j < c->env_count && !overridden; ++j) {
      const size_t key = strcspn(c->env[j], "=");
      overridden = strncmp(environ[i], c->env[j], key) == 0 && environ[i][key] == '=';
    }
    if (!overridden) envp[count++] = environ[i];
  }
  for (int j = 0; j < c->env_count; ++j) envp[count++] = c->env[j];
  return envp;
}

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

/* Runs one process; returns its exit status (or 128 + signal) and its times. */
static int spawn_and_wait(char* const argv[], char* const envp[], const char* input, double* wall, double* cpu) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input ? input : "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int status = 0;
  struct rusage usage;
  const double start = now_ms();
  const int spawned = posix_spawn(&pid, argv[0], &actions, NULL, argv, envp);
  if (spawned != 0) fail("cannot start", argv[0]);
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) fail("wait4 failed", strerror(errno));
  }
  const double end = now_ms();
  posix_spawn_file_actions_destroy(&actions);
  if (wall) *wall = end - start;
  if (cpu) {
    *cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

static void run_once(struct bench_case* c, int counted) {
  if (c->prepare) {
    char* shell[] = {"/bin/sh", "-c", c->prepare, NULL};
    if (spawn_and_wait(shell, c->envp, NULL, NULL, NULL) != 0) fail("the prepare command failed", c->name);
  }
  double wall, cpu;
  const int status = spawn_and_wait(c->argv, c->envp, c->input, &wall, &cpu);
  if (status != c->status) {
    fprintf(stderr, "spawn-median: case %s ended with status %d, expected %d\n", c->name, status, c->status);
    exit(1);
  }
  if (counted) {
    c->wall[c->runs] = wall;
    c->cpu[c->runs] = cpu;
    c->runs++;
  }
}

static int compare(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

/* The value at fraction q of the sorted values, interpolated between neighbours. */
static double quantile(const double* sorted, int n, double q) {
  const double position = q * (n - 1);
  const int below = (int)position;
  if (below + 1 >= n) return sorted[n - 1];
  return sorted[below] + (position - below) * (sorted[below + 1] - sorted[below]);
}

/* A small fixed-seed generator (xorshift64*): the same order of cases in every run. */
static unsigned long long random_state = 0x9E3779B97F4A7C15ull;
static unsigned random_below(unsigned bound) {
  random_state ^= random_state >> 12;
  random_state ^= random_state << 25;
  random_state ^= random_state >> 27;
  return (unsigned)((random_state * 0x2545F4914F6CDD1Dull) >> 33) % bound;
}

static void run_round(int counted) {
  int order[max_cases];
  for (int i = 0; i < case_count; ++i) order[i] = i;
  for (int i = case_count - 1; i > 0; --i) {
    const int j = (int)random_below((unsigned)i + 1);
    const int swap = order[i];
    order[i] = order[j];
    order[j] = swap;
  }
  for (int i = 0; i < case_count; ++i) run_once(&cases[order[i]], counted);
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: spawn-median CASEFILE ROUNDS WARMUP_ROUNDS MAX_SECONDS\n");
    return 2;
  }
  read_cases(argv[1]);
  const int rounds = atoi(argv[2]);
  const int warmup = atoi(argv[3]);
  const double deadline_ms = atof(argv[4]) * 1e3;
  if (rounds < 1 || warmup < 0) fail("bad round counts", NULL);
  for (int i = 0; i < case_count; ++i) {
    struct bench_case* c = &cases[i];
    if (c->argc == 0) fail("a case has no program", c->name);
    c->argv[c->argc] = NULL;
    c->envp = build_environment(c);
    c->wall = calloc((size_t)rounds, sizeof(double));
    c->cpu = calloc((size_t)rounds, sizeof(double));
    if (!c->wall || !c->cpu) fail("out of memory", NULL);
  }
  for (int round = 0; round < warmup; ++round) run_round(0);
  const double start = now_ms();
  for (int round = 0; round < rounds; ++round) {
    if (round >= min_rounds && now_ms() - start > deadline_ms) break;
    run_round(1);
  }
  for (int i = 0; i < case_count; ++i) {
    struct bench_case* c = &cases[i];
    qsort(c->wall, (size_t)c->runs, sizeof(double), compare);
    qsort(c->cpu, (size_t)c->runs, sizeof(double), compare);
    printf("%s\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%d\n", c->name, quantile(c->wall, c->runs, 0.5),
           quantile(c->wall, c->runs, 0.25), quantile(c->wall, c->runs, 0.75), c->wall[0],
           quantile(c->cpu, c->runs, 0.5), c->runs);
  }
  return 0;
}
