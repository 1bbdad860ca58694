#include "services/WindowPlacement.hpp"

#include "base/Environment.hpp"
#include "services/FileError.hpp"
#include "services/PrivateFiles.hpp"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace orlune::rlm {

namespace {

constexpr const char* kFileName = "window.json";

nlohmann::json readDocument(const std::string& path) {
    nlohmann::json document = nlohmann::json::parse(PrivateFiles::read(path));
    if (!document.is_object()) {
        throw std::invalid_argument("not a JSON object");
    }
    return document;
}

int64_t overlapArea(const QRect& one, const QRect& other) {
    const QRect common = one.intersected(other);
    return common.isValid() ? int64_t(common.width()) * common.height() : 0;
}

} // namespace

std::string WindowPlacement::defaultPath() {
    return core::joinPath(core::joinPath(PrivateFiles::dataFolder(), "OrluneRLM"), kFileName);
}

WindowPlacement::WindowPlacement(std::string path, StructuredLogger logger)
    : path_(std::move(path)), logger_(std::move(logger)) {}

std::optional<QRect> WindowPlacement::load(const std::string& name) const {
    std::error_code missing;
    if (!std::filesystem::exists(path_, missing)) {
        return std::nullopt;
    }
    try {
        const nlohmann::json document = readDocument(path_);
        const auto entry = document.find(name);
        if (entry == document.end()) {
            return std::nullopt;
        }
        const QRect area(entry->at("x").get<int>(), entry->at("y").get<int>(),
                         entry->at("width").get<int>(), entry->at("height").get<int>());
        if (area.width() <= 0 || area.height() <= 0) {
            throw std::invalid_argument("an empty area");
        }
        return area;
    } catch (const FileError& error) {
        logger_.warning("config_window_place_unreadable", {{"error", error.what()}});
    } catch (const std::exception&) {
        // The parser's message may quote the file; the path says enough.
        logger_.warning("config_window_place_unreadable",
                        {{"error", "not a window place file: " + path_}});
    }
    return std::nullopt;
}

void WindowPlacement::save(const std::string& name, const QRect& area) const {
    nlohmann::json document = nlohmann::json::object();
    try {
        document = readDocument(path_);
    } catch (const std::exception&) {
        // Missing or unreadable: this save starts it afresh.
    }
    document[name] = {
        {"x", area.x()}, {"y", area.y()}, {"width", area.width()}, {"height", area.height()}};
    PrivateFiles::preparePrivateFolder(PrivateFiles::folderOf(path_), logger_);
    PrivateFiles::writeAtomically(path_, document.dump(), logger_);
}

QRect WindowPlacement::fitted(const QRect& saved, const QList<QRect>& available) {
    if (available.isEmpty()) {
        return saved;
    }
    QRect screen = available.front();
    int64_t best = 0;
    for (const QRect& candidate : available) {
        if (const int64_t area = overlapArea(saved, candidate); area > best) {
            best = area;
            screen = candidate;
        }
    }
    const int width = std::clamp(saved.width(), 1, screen.width());
    const int height = std::clamp(saved.height(), 1, screen.height());
    const int x = std::clamp(saved.x(), screen.left(), screen.left() + screen.width() - width);
    const int y = std::clamp(saved.y(), screen.top(), screen.top() + screen.height() - height);
    return {x, y, width, height};
}

} // namespace orlune::rlm
