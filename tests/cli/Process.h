// Runs vardel-lecteurs-cli as a child process, as a user or a script does:
// its own stdout and stderr (pipes, not terminals), environment variables
// added or replaced, signals sent to it, output read while it runs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace cli_test {

struct Finished {
    // The exit status, or 128 + the signal that ended it, or -1 when it was
    // still running after the guard time (it is then killed).
    int status = -1;
    std::string out;
    std::string err;
};

class Child {
public:
    // environment: variables to set ("" as value sets them empty); the rest
    // is inherited.
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::map<std::string, std::string>& environment = {}) {
        int outPipe[2];
        int errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

        std::vector<std::string> args{program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::map<std::string, std::string> merged;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const auto equal = entry.find('=');
            if (equal != std::string::npos)
                merged[entry.substr(0, equal)] = entry.substr(equal + 1);
        }
        for (const auto& [name, value] : environment) merged[name] = value;
        std::vector<std::string> entries;
        for (const auto& [name, value] : merged) entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (std::string& e : entries) envp.push_back(e.data());
        envp.push_back(nullptr);

        const int spawned =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
        if (spawned != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + program);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads its output until `seen(stdout so far)` is true or the guard time
    // has passed (a guard against a hang, not a measure).
    bool WaitForOutput(const std::function<bool(const std::string&)>& seen,
                       std::chrono::seconds guard = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + guard;
        while (!seen(result_.out)) {
            if (!ReadSome(end)) return seen(result_.out);
        }
        return true;
    }
    bool WaitForText(const std::string& text,
                     std::chrono::seconds guard = std::chrono::seconds(20)) {
        return WaitForOutput(
            [&](const std::string& out) { return out.find(text) != std::string::npos; }, guard);
    }

    void Signal(int number) {
        if (pid_ > 0) kill(pid_, number);
    }

    // Reads everything to the end and waits for the process.
    Finished Wait(std::chrono::seconds guard = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + guard;
        while (ReadSome(end)) {
        }
        if (out_ >= 0 || err_ >= 0) {
            kill(pid_, SIGKILL);  // still running at the guard time
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            result_.status = -1;
            return result_;
        }
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        result_.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return result_;
    }

    const std::string& Out() const { return result_.out; }
    const std::string& Err() const { return result_.err; }

private:
    // One poll and the reads it allows; false once both pipes are at their
    // end or the time is up.
    bool ReadSome(std::chrono::steady_clock::time_point end) {
        if (out_ < 0 && err_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
        ReadPipe(fds[0], out_, result_.out);
        ReadPipe(fds[1], err_, result_.err);
        return true;
    }
    static void ReadPipe(const pollfd& fd, int& pipe, std::string& into) {
        if (pipe < 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char chunk[4096];
        const ssize_t got = read(pipe, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
        } else {
            close(pipe);
            pipe = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    Finished result_;
};

inline Finished Run(const std::string& program, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {}) {
    Child child(program, arguments, environment);
    return child.Wait();
}

}  // namespace cli_test
