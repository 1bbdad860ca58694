#include "tests/support/ProcessRun.hpp"

#include "tests/support/TempDir.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orlune::testing {

std::vector<std::string>
environmentWith(const std::map<std::string, std::optional<std::string>>& changes) {
    std::map<std::string, std::optional<std::string>> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
        variables[name] = value;
    }
    std::vector<std::string> environment;
    for (const auto& [name, value] : variables) {
        if (value) {
            environment.push_back(name + "=" + *value);
        }
    }
    return environment;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment,
                         const std::optional<std::string>& input, const std::string& workDir) {
    TempDir io;
    const std::string inPath = input ? io.file("in") : std::string("/dev/null");
    const std::string outPath = io.file("out"), errPath = io.file("err");
    if (input) {
        writeFile(inPath, *input);
    }

    // Everything the child needs is built before fork: between fork and exec
    // it only opens, duplicates and changes folder.
    std::vector<std::string> argvStrings = {program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = environment;
    std::vector<char*> argv, envp;
    for (std::string& arg : argvStrings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork");
    }
    if (pid == 0) {
        int in = ::open(inPath.c_str(), O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || (!workDir.empty() && ::chdir(workDir.c_str()) != 0)) {
            _exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

int unusedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

namespace {

bool isRunning(int pid) {
    if (::kill(pid, 0) != 0) {
        return false;
    }
#ifdef __linux__
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
#else
    return true;
#endif
}

} // namespace

bool processEnds(int pid) {
    for (int i = 0; i < 300 && isRunning(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !isRunning(pid);
}

} // namespace orlune::testing
