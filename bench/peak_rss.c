/* Runs a program, its output discarded, and prints its own peak resident set
 * ("peak_kb KB status STATUS"). The peak is read from /proc at the moment the
 * program exits (it is traced only to stop there, PTRACE_O_TRACEEXIT): the
 * rusage a parent gets counts the memory of the process that started it
 * (the peak of the image replaced by exec), which would hide a small program.
 *
 * usage: vardel-peak-rss PROGRAM [ARGUMENT...]
 */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

static long peak_kb(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* status = fopen(path, "r");
    if (!status) return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, "VmHWM:", 6) == 0) kb = strtol(line + 6, NULL, 10);
    }
    fclose(status);
    return kb;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: vardel-peak-rss PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        perror("vardel-peak-rss: fork");
        return 1;
    }
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        ptrace(PTRACE_TRACEME, 0, NULL, NULL);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status;
    long kb = -1;
    int options_set = 0;
    for (;;) {
        if (waitpid(child, &status, 0) != child) {
            perror("vardel-peak-rss: waitpid");
            return 1;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        int deliver = 0;
        if (!options_set) {
            /* The stop after exec: from now on only the exit stops it. */
            ptrace(PTRACE_SETOPTIONS, child, NULL, (void*)PTRACE_O_TRACEEXIT);
            options_set = 1;
        } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            kb = peak_kb(child);
        } else if (WIFSTOPPED(status)) {
            deliver = WSTOPSIG(status);
        }
        ptrace(PTRACE_CONT, child, NULL, (void*)(long)deliver);
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("peak_kb %ld status %d\n", kb, code);
    return 0;
}
