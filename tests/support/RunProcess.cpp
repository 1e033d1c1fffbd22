#include "RunProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

void closeBoth(int fds[2]) {
    if (fds[0] >= 0)
        close(fds[0]);
    if (fds[1] >= 0)
        close(fds[1]);
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) {
        closeBoth(outPipe);
        closeBoth(errPipe);
        closeBoth(inPipe);
        throw std::runtime_error("pipe failed");
    }

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& kv : options.env)
        env[kv.first] = kv.second;
    std::vector<std::string> envStrings;
    for (const auto& kv : env)
        envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (std::string& s : envStrings)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& s : args)
        argp.push_back(&s[0]);
    argp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        closeBoth(outPipe);
        closeBoth(errPipe);
        closeBoth(inPipe);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
            _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);

    // Feed standard input, then close it so the program sees end of input.
    size_t written = 0;
    signal(SIGPIPE, SIG_IGN);
    while (written < options.input.size()) {
        const ssize_t n = write(inPipe[1], options.input.data() + written, options.input.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    bool interrupted = options.interruptWhenPrinted.empty();
    if (interrupted) {
        close(inPipe[1]);
        inPipe[1] = -1;
    }

    ProcessResult result;
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(options.timeoutSeconds);
    bool timedInterrupt = options.interruptAfterMs < 0;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const int ready = poll(fds, 2, timedInterrupt ? 200 : 5);
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
        if (!interrupted && result.out.find(options.interruptWhenPrinted) != std::string::npos) {
            kill(pid, options.interruptSignal);
            interrupted = true;
        }
        if (!timedInterrupt &&
            std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(options.interruptAfterMs)) {
            kill(pid, options.interruptSignal);
            timedInterrupt = true;
        }
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
        // A process the killed one started may still hold the pipes open:
        // what it prints after a short grace is not waited for.
        if (killed && std::chrono::steady_clock::now() > deadline + std::chrono::seconds(5))
            break;
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    if (inPipe[1] >= 0)
        close(inPipe[1]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string makeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessary-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
