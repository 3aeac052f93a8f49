// Stands in for sh, bash and dash at the front of PATH: records that it was
// run, with its arguments, in $ZO_SHELL_TRAP_LOG and fails, so that a test
// can assert that no shell was ever started on its behalf.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* path = std::getenv("ZO_SHELL_TRAP_LOG");
    if (FILE* log = std::fopen(path && *path ? path : "/tmp/zo-shell-trap.log", "a")) {
        for (int i = 0; i < argc; ++i) std::fprintf(log, "%s%s", i ? " " : "", argv[i]);
        std::fputc('\n', log);
        std::fclose(log);
    }
    return 127;
}
