/* A whole process of inih parsing one file and keeping nothing: the yardstick scripts/bench.sh
 * holds vellix-run's load at creation against. Written in C and linked with inih alone, so the
 * process pays no more start-up than a program built on inih would.
 *
 *   inih_process FILE     exit status 0 when the file parsed, 1 otherwise */
#include <ini.h>
#include <stdio.h>

static int Keep(void* user, const char* section, const char* name, const char* value) {
  (void)user;
  (void)section;
  (void)name;
  (void)value;
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: inih_process FILE\n", stderr);
    return 2;
  }
  return ini_parse(argv[1], Keep, NULL) == 0 ? 0 : 1;
}
