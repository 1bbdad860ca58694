#pragma once
// Test support: a temporary folder removed with its contents at the end of the
// test, and scoped overrides of environment variables.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orlune::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as a string.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets (or, with std::nullopt, unsets) environment variables for its lifetime
// and restores the previous values afterwards.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) {
        set(name, value);
    }
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Reads a whole file as bytes.
std::string readFile(const std::string& path);
// Writes `bytes` to `path`, replacing it.
void writeFile(const std::string& path, const std::string& bytes);
// Whether the file at `path` holds `bytes` anywhere; false when there is no
// such file.
bool fileHolds(const std::string& path, const std::string& bytes);

} // namespace orlune::testing
