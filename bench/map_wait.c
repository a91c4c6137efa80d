/* Starts a program on the X display and reports when its first top-level
 * window is mapped: "mapped MILLISECONDS PID", the time counted from just
 * before the program is started. The root window's structure events are
 * selected before the start, so no mapping can be missed; a window counts
 * when its _NET_WM_PID is the program's. The program then keeps running
 * until this one's standard input reaches its end (the caller reads what it
 * needs meanwhile), and is ended with SIGTERM (SIGKILL 5 s later).
 *
 * usage: vardel-map-wait TIMEOUT_SECONDS PROGRAM [ARGUMENT...]
 * Exit status: 0 mapped, 1 not mapped in time or the program ended, 2 usage.
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static long window_pid(Display* display, Window window, Atom pid_atom) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = NULL;
    long pid = -1;
    if (XGetWindowProperty(display, window, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1 && format == 32) {
        pid = (long)*(unsigned long*)data;
    }
    if (data) XFree(data);
    return pid;
}

static int ignore_errors(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;  /* a window gone before its property was read */
    return 0;
}

static void end_child(pid_t child) {
    int status;
    kill(child, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(child, &status, WNOHANG) == child) return;
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
}

int main(int argc, char** argv) {
    double timeout_s = argc >= 3 ? strtod(argv[1], NULL) : 0;
    if (argc < 3 || timeout_s <= 0) {
        fprintf(stderr, "usage: vardel-map-wait TIMEOUT_SECONDS PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "vardel-map-wait: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignore_errors);
    const Atom pid_atom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = now_ms();
    const pid_t child = fork();
    if (child < 0) {
        perror("vardel-map-wait: fork");
        return 1;
    }
    if (child == 0) {
        close(ConnectionNumber(display));
        execvp(argv[2], argv + 2);
        perror("vardel-map-wait: exec");
        _exit(127);
    }

    const double deadline = start + timeout_s * 1e3;
    int mapped = 0;
    while (!mapped) {
        while (XPending(display) && !mapped) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && window_pid(display, event.xmap.window, pid_atom) == child) {
                printf("mapped %.1f %ld\n", now_ms() - start, (long)child);
                fflush(stdout);
                mapped = 1;
            }
        }
        if (mapped) break;
        int status;
        if (waitpid(child, &status, WNOHANG) == child) {
            fprintf(stderr, "vardel-map-wait: %s ended before mapping a window\n", argv[2]);
            return 1;
        }
        const double left = deadline - now_ms();
        if (left <= 0) {
            fprintf(stderr, "vardel-map-wait: no window mapped within %.1f s\n", timeout_s);
            end_child(child);
            return 1;
        }
        struct pollfd x = {ConnectionNumber(display), POLLIN, 0};
        poll(&x, 1, left < 50 ? (int)left + 1 : 50);
    }
    /* Until the caller is done with the running program. */
    char buffer[256];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    end_child(child);
    XCloseDisplay(display);
    return 0;
}
