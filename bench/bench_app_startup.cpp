// Start-up cost of the application: time from process start to the first
// painted frame of the menu popup, against a minimal Qt Widgets program that
// shows one empty window, measured in the same run, starts interleaved.
//
// Two application scenarios: the first run (no API key: the setup screen)
// and a configured one (key, a 2000-message sample store, access granted:
// the working screen with its chat model and the first sync starting).
// A second reference, a window with one line of text, shows how much of the
// difference is the font database that any window with text loads.
// Each program prints "orlune-first-frame" once its first frame is painted
// and exits (the application through ORLUNE_EXIT_AFTER_FIRST_FRAME).
//
// Usage: bench_app_startup [STARTS]   (default 15 starts of each, after one warm-up)
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "base/SystemDifferences.hpp"
#include "services/ConfigManager.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kMarker = "orlune-first-frame";
constexpr const char* kBaselineFlag = "--baseline-window";
constexpr const char* kTextBaselineFlag = "--baseline-text-window";

// The baseline program: one empty window, reported once painted.
class FirstFrameReporter : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            QTimer::singleShot(0, [] {
                std::printf("%s\n", kMarker);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool reported_ = false;
};

// With `withText`, the window also shows one line of text, which makes the
// program load the font database as every window with text must.
int runBaselineWindow(int argc, char** argv, bool withText) {
    QApplication application(argc, argv);
    QWidget window;
    if (withText) {
        new QLabel(QStringLiteral("OrluneRLM"), &window);
    }
    FirstFrameReporter reporter;
    window.installEventFilter(&reporter);
    window.resize(300, 200);
    window.show();
    return QApplication::exec();
}

// Starts `program` with `environment`, waits for the marker line on its
// standard output and returns the milliseconds from spawn to the marker.
double timeToFirstFrame(const std::string& program, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment) {
    int out[2];
    if (orlune::core::openCloseOnExecPipe(out) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);

    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char buffer[256];
    ssize_t count;
    double elapsed = -1;
    while ((count = read(out[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(count));
        if (elapsed < 0 && output.find(kMarker) != std::string::npos) {
            elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (elapsed < 0) {
        throw std::runtime_error(program + " never reported its first frame");
    }
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The current environment with `overrides` applied.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (!overrides.count(name) && name != "CHAT_DB_PATH" && name != "SHADOW_DB_PATH") {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        result.push_back(name + "=" + value);
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kBaselineFlag) == 0) {
        return runBaselineWindow(argc, argv, false);
    }
    if (argc > 1 && std::strcmp(argv[1], kTextBaselineFlag) == 0) {
        return runBaselineWindow(argc, argv, true);
    }
    const int starts = argc > 1 ? std::max(10, std::atoi(argv[1])) : 15;
    const std::optional<std::string> self = orlune::core::executablePath();
    if (!self) {
        std::fprintf(stderr, "bench_app_startup: cannot tell where this program is\n");
        return 1;
    }
    const std::string app = ORLUNE_APP_PATH;

    // Two homes: one never set up, one with a key and a messaging store.
    char pattern[] = "/tmp/orlune-bench-startup-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp");
    }
    const std::filesystem::path folder = pattern;
    const std::filesystem::path freshHome = folder / "fresh";
    const std::filesystem::path readyHome = folder / "ready";
    std::filesystem::create_directories(freshHome / "data");
    std::filesystem::create_directories(readyHome / "data");
    std::filesystem::create_directories(readyHome / "Library/Messages");
    orlune::samplestore::buildSampleStore((readyHome / "Library/Messages/chat.db").string());
    orlune::rlm::ConfigManager((readyHome / "data/OrluneRLM/config.json").string(),
                               orlune::rlm::StructuredLogger("bench", "config", -1))
        .save(orlune::rlm::AppConfig{"sk-bench"});

    const std::string platform = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                                     ? std::string("offscreen")
                                     : qgetenv("QT_QPA_PLATFORM").toStdString();
    const auto homeEnvironment = [&](const std::filesystem::path& home) {
        return environmentWith({{"HOME", home.string()},
                                {"XDG_DATA_HOME", (home / "data").string()},
                                {"ORLUNE_DATA_DIR", (home / "data").string()},
                                {"QT_QPA_PLATFORM", platform},
                                {"ORLUNE_EXIT_AFTER_FIRST_FRAME", "1"}});
    };
    struct Program {
        const char* name;
        std::string path;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        std::vector<double> times;
    };
    std::vector<Program> programs = {
        {"minimal Qt Widgets window (baseline)",
         *self,
         {kBaselineFlag},
         homeEnvironment(freshHome),
         {}},
        {"minimal window with one line of text",
         *self,
         {kTextBaselineFlag},
         homeEnvironment(freshHome),
         {}},
        {"OrluneRLM, first run (setup screen)", app, {}, homeEnvironment(freshHome), {}},
        {"OrluneRLM, set up (working screen, sync starting)",
         app,
         {},
         homeEnvironment(readyHome),
         {}},
    };

    for (Program& program : programs) { // warm-up: caches, fonts, the first sync
        timeToFirstFrame(program.path, program.arguments, program.environment);
    }
    for (int round = 0; round < starts; ++round) {
        for (Program& program : programs) {
            program.times.push_back(
                timeToFirstFrame(program.path, program.arguments, program.environment));
        }
    }

    std::printf("Start to first frame, median of %d starts each (platform %s):\n", starts,
                platform.c_str());
    const double baseline = median(programs[0].times);
    for (const Program& program : programs) {
        const double value = median(program.times);
        std::printf("  %-52s %8.1f ms   ratio %.2f\n", program.name, value, value / baseline);
    }
    std::printf("Target: ratio at most 1.50\n");
    std::filesystem::remove_all(folder);
    return 0;
}
