// Window places kept between runs: fitting a saved place to today's screens,
// and the file's round trip and damage.

#include "services/WindowPlacement.hpp"

#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QRect& area, std::ostream* stream) {
    *stream << "QRect(" << area.x() << ", " << area.y() << ", " << area.width() << "x"
            << area.height() << ")";
}
QT_END_NAMESPACE

namespace orlune::rlm {
namespace {

using testing::eventsNamed;
using testing::RlmTestFolder;
using testing::writeFile;

TEST(WindowPlacementFitTest, APlaceEndsWhollyOnOneScreen) {
    const QRect laptop(0, 25, 1440, 875);     // menu bar at the top
    const QRect monitor(1440, 0, 2560, 1440); // to its right
    const struct {
        const char* name;
        QRect saved;
        QList<QRect> screens;
        QRect expected;
    } cases[] = {
        {"inside: unchanged", {100, 100, 400, 500}, {laptop}, {100, 100, 400, 500}},
        {"on the second screen: unchanged",
         {2000, 200, 400, 500},
         {laptop, monitor},
         {2000, 200, 400, 500}},
        {"second screen gone: onto the first",
         {2000, 200, 400, 500},
         {laptop},
         {1040, 200, 400, 500}},
        {"above the menu bar: moved down", {100, 0, 400, 500}, {laptop}, {100, 25, 400, 500}},
        {"far left and below: moved in", {-900, 2000, 400, 500}, {laptop}, {0, 400, 400, 500}},
        {"larger than the screen: shrunk to it", {-50, -50, 3000, 2000}, {laptop}, laptop},
        {"across two screens: onto the one it covers most",
         {1300, 100, 400, 300},
         {laptop, monitor},
         {1440, 100, 400, 300}},
        {"no screen known: unchanged", {-900, 2000, 400, 500}, {}, {-900, 2000, 400, 500}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WindowPlacement::fitted(c.saved, c.screens), c.expected);
    }
}

class WindowPlacementTest : public ::testing::Test {
protected:
    std::string path() const { return folder.dataFolder() + "/OrluneRLM/window.json"; }
    WindowPlacement placement() const { return {path(), folder.logger("config")}; }
    size_t unreadableReports() const {
        return eventsNamed(folder, "config_window_place_unreadable").size();
    }

    RlmTestFolder folder;
};

TEST_F(WindowPlacementTest, SavedPlacesComeBackByNameAndTheFileIsPrivate) {
    EXPECT_EQ(WindowPlacement::defaultPath(), path());
    EXPECT_EQ(placement().load(WindowPlacement::kWindow), std::nullopt) << "no file yet";
    placement().save(WindowPlacement::kWindow, {10, -20, 640, 480});
    placement().save("other", {1, 2, 3, 4});
    EXPECT_EQ(placement().load(WindowPlacement::kWindow), QRect(10, -20, 640, 480))
        << "saving another name keeps this one";
    EXPECT_EQ(placement().load("other"), QRect(1, 2, 3, 4));
    EXPECT_EQ(placement().load("missing"), std::nullopt);
    EXPECT_EQ(RlmTestFolder::mode(path()), 0600u);
    EXPECT_EQ(unreadableReports(), 0u);
}

TEST_F(WindowPlacementTest, ADamagedFileIsReportedAndReplacedBySaving) {
    const char* damaged[] = {
        "{not json",
        "[1, 2]",
        R"({"window": {"x": 1, "y": 2, "width": 3}})",
        R"({"window": {"x": "1", "y": 2, "width": 3, "height": 4}})",
        R"({"window": {"x": 1, "y": 2, "width": 0, "height": 4}})",
        R"({"window": 5})",
    };
    for (const char* text : damaged) {
        SCOPED_TRACE(text);
        std::filesystem::create_directories(folder.dataFolder() + "/OrluneRLM");
        writeFile(path(), text);
        const size_t before = unreadableReports();
        EXPECT_EQ(placement().load(WindowPlacement::kWindow), std::nullopt);
        EXPECT_EQ(unreadableReports(), before + 1);
        placement().save(WindowPlacement::kWindow, {5, 6, 300, 200});
        EXPECT_EQ(placement().load(WindowPlacement::kWindow), QRect(5, 6, 300, 200));
    }
}

} // namespace
} // namespace orlune::rlm
