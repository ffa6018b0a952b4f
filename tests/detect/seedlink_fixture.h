// The test SeedLink server (seedlink_server.py) in a child process, on an
// ephemeral loopback port, for as long as the object lives.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace detect_test {

class SeedLinkServer {
public:
    explicit SeedLinkServer(const std::vector<std::string> &arguments)
    {
        int input[2], output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> words = {"/usr/bin/python3", ONSET_SEEDLINK_SERVER, "--lifetime", "60"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        const int spawned = posix_spawn(&process_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        lifeline_ = input[1];
        if (spawned != 0) throw std::runtime_error("cannot start the SeedLink server");
        // Its first line is its port.
        pollfd said{output[0], POLLIN, 0};
        char c = 0;
        while (poll(&said, 1, 20000) == 1 && read(output[0], &c, 1) == 1 && c != '\n') port_ += c;
        close(output[0]);
        if (port_.empty()) throw std::runtime_error("the SeedLink server did not start");
    }
    // Closing its standard input stops it.
    ~SeedLinkServer()
    {
        close(lifeline_);
        for (int tries = 0; tries < 100; ++tries) {
            if (waitpid(process_, nullptr, WNOHANG) == process_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(process_, SIGKILL);
        waitpid(process_, nullptr, 0);
    }
    SeedLinkServer(const SeedLinkServer &) = delete;
    SeedLinkServer &operator=(const SeedLinkServer &) = delete;

    std::string address() const { return "127.0.0.1:" + port_; }

private:
    pid_t process_ = -1;
    int lifeline_ = -1;
    std::string port_;
};

}  // namespace detect_test
