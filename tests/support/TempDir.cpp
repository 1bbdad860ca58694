#include "tests/support/TempDir.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orlune::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orlune-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) {
            setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            unsetenv(it->first.c_str());
        }
    }
}

void ScopedEnv::set(const std::string& name, const std::optional<std::string>& value) {
    const char* previous = std::getenv(name.c_str());
    saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool fileHolds(const std::string& path, const std::string& bytes) {
    if (!std::filesystem::exists(path)) {
        return false;
    }
    return readFile(path).find(bytes) != std::string::npos;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace orlune::testing
