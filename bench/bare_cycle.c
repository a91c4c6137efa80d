/* The floor of the reader manager's design: exactly the service calls of its
 * 100 ms cycle, on pcsc-lite's C API, and nothing else. Every cycle:
 *   - one SCardListReaders on the watcher's context, into a buffer kept
 *     between cycles (the reader-list check);
 *   - one SCardGetStatusChange per reader, on that reader's own context,
 *     state unaware, 1 ms timeout (the card-state poll);
 *   - then a 100 ms pause.
 * The readers are those listed at start.
 *
 * With --handover the cycle runs as the manager's does: the listing on a
 * watcher thread, which then hands the card-state polls over to the main
 * thread and waits until they have run, then pauses. The hand-over is the
 * least one can be (a mutex, two condition variables, each notified after
 * the lock is released): what the two threads of the design cost by
 * themselves.
 *
 * Runs until SIGTERM or SIGINT, or for SECONDS when given; prints "ready N"
 * once its contexts are established.
 *
 * usage: vardel-bare-cycle [--handover] [SECONDS]
 */
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <PCSC/winscard.h>

#define MAX_READERS 16
#define CYCLE_NS 100000000L

static volatile sig_atomic_t stop_requested = 0;

static SCARDCONTEXT watcher;
static char list[256 * 3]; /* the watcher's buffer: 256 characters, like the manager's */
static const char* names[MAX_READERS];
static SCARDCONTEXT contexts[MAX_READERS];
static int readers = 0;
static double end_time = 0;

/* The hand-over between the watcher thread and the main thread. */
static pthread_mutex_t handover = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t to_main = PTHREAD_COND_INITIALIZER;
static pthread_cond_t to_watcher = PTHREAD_COND_INITIALIZER;
static int polls_asked = 0, polls_done = 0, watcher_ended = 0;

static void on_signal(int sig) {
    (void)sig;
    stop_requested = 1;
}

static double now_s(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int running(void) {
    return !stop_requested && (end_time == 0 || now_s() < end_time);
}

static void check_reader_list(void) {
    DWORD size = sizeof list;
    SCardListReaders(watcher, NULL, list, &size);
}

static void poll_card_states(void) {
    for (int i = 0; i < readers; ++i) {
        SCARD_READERSTATE state;
        memset(&state, 0, sizeof state);
        state.szReader = names[i];
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        SCardGetStatusChange(contexts[i], 1, &state, 1);
    }
}

static void pause_cycle(void) {
    struct timespec pause = {0, CYCLE_NS};
    while (nanosleep(&pause, &pause) == -1 && errno == EINTR && !stop_requested) {
    }
}

static void* watcher_thread(void* arg) {
    (void)arg;
    while (running()) {
        check_reader_list();
        pthread_mutex_lock(&handover);
        polls_asked = 1;
        polls_done = 0;
        pthread_mutex_unlock(&handover);
        pthread_cond_signal(&to_main);
        pthread_mutex_lock(&handover);
        while (!polls_done) pthread_cond_wait(&to_watcher, &handover);
        pthread_mutex_unlock(&handover);
        pause_cycle();
    }
    pthread_mutex_lock(&handover);
    watcher_ended = 1;
    pthread_mutex_unlock(&handover);
    pthread_cond_signal(&to_main);
    return NULL;
}

static void run_with_handover(void) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, watcher_thread, NULL) != 0) {
        fprintf(stderr, "vardel-bare-cycle: cannot start the watcher thread\n");
        exit(1);
    }
    for (;;) {
        pthread_mutex_lock(&handover);
        while (!polls_asked && !watcher_ended) pthread_cond_wait(&to_main, &handover);
        const int ended = watcher_ended;
        polls_asked = 0;
        pthread_mutex_unlock(&handover);
        if (ended) break;
        poll_card_states();
        pthread_mutex_lock(&handover);
        polls_done = 1;
        pthread_mutex_unlock(&handover);
        pthread_cond_signal(&to_watcher);
    }
    pthread_join(thread, NULL);
}

int main(int argc, char** argv) {
    int with_handover = 0;
    double duration = 0;
    int arg = 1;
    if (arg < argc && strcmp(argv[arg], "--handover") == 0) {
        with_handover = 1;
        ++arg;
    }
    if (arg < argc) {
        char* end;
        duration = strtod(argv[arg++], &end);
        if (*end != '\0' || duration <= 0) arg = argc + 1;
    }
    if (arg != argc) {
        fprintf(stderr, "usage: vardel-bare-cycle [--handover] [SECONDS]\n");
        return 2;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);

    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &watcher);
    if (rv != SCARD_S_SUCCESS) {
        fprintf(stderr, "vardel-bare-cycle: SCardEstablishContext: 0x%08lX\n", (unsigned long)rv);
        return 1;
    }
    DWORD size = sizeof list;
    rv = SCardListReaders(watcher, NULL, list, &size);
    if (rv != SCARD_S_SUCCESS) {
        fprintf(stderr, "vardel-bare-cycle: SCardListReaders: 0x%08lX\n", (unsigned long)rv);
        return 1;
    }
    /* The names stay in a copy of the first listing. */
    static char first[sizeof list];
    memcpy(first, list, sizeof list);
    for (const char* name = first; *name && readers < MAX_READERS; name += strlen(name) + 1) {
        names[readers] = name;
        rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &contexts[readers]);
        if (rv != SCARD_S_SUCCESS) {
            fprintf(stderr, "vardel-bare-cycle: SCardEstablishContext: 0x%08lX\n", (unsigned long)rv);
            return 1;
        }
        ++readers;
    }
    printf("ready %d\n", readers);
    fflush(stdout);

    if (duration > 0) end_time = now_s() + duration;
    if (with_handover) {
        run_with_handover();
    } else {
        while (running()) {
            check_reader_list();
            poll_card_states();
            pause_cycle();
        }
    }
    for (int i = 0; i < readers; ++i) SCardReleaseContext(contexts[i]);
    SCardReleaseContext(watcher);
    return 0;
}
