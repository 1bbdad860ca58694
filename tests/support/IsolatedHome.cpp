// Compiled into every test program: before the first test, HOME, the data
// folders and the data-folder override point into a temporary folder of the
// program's own, and the variables naming real databases are cleared. A test
// that forgets to set up its own folders then still writes nothing to the
// person's real ones (on macOS Qt's data folder ignores HOME, which is why
// ORLUNE_DATA_DIR is set too). Tests that set these themselves (RlmTestFolder,
// ScopedEnv) restore this setting afterwards.

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <memory>

namespace orlune::testing {
namespace {

class IsolatedHome final : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<TempDir>();
        env_ = std::make_unique<ScopedEnv>("HOME", home_->path().string());
        env_->set("XDG_DATA_HOME", home_->file("data"));
        env_->set("XDG_CONFIG_HOME", home_->file("config"));
        env_->set("ORLUNE_DATA_DIR", home_->file("data"));
        env_->set("CHAT_DB_PATH", std::nullopt);
        env_->set("SHADOW_DB_PATH", std::nullopt);
    }
    void TearDown() override {
        env_.reset();
        home_.reset();
    }

private:
    std::unique_ptr<TempDir> home_;
    std::unique_ptr<ScopedEnv> env_;
};

[[maybe_unused]] const ::testing::Environment* const kIsolatedHome =
    ::testing::AddGlobalTestEnvironment(new IsolatedHome);

} // namespace
} // namespace orlune::testing
