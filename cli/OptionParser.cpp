#include "OptionParser.hpp"

#include <charconv>
#include <iostream>

namespace orlune::cli {

OptionParser::OptionParser(std::string verb, std::set<std::string> valueOptions,
                           std::set<std::string> flags)
    : verb_(std::move(verb)), valueOptions_(std::move(valueOptions)),
      flagOptions_(std::move(flags)) {}

void OptionParser::complain(const std::string& message) const {
    std::cerr << "orlune " << verb_ << ": " << message << "\n"
              << "Run `orlune " << verb_ << " --help` for usage.\n";
}

bool OptionParser::parse(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !arg.starts_with("--")) {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(0, arg.find('='));
        if (flagOptions_.count(name)) {
            if (name.size() != arg.size()) {
                complain(name + " takes no value");
                return false;
            }
            flags_.insert(name);
        } else if (valueOptions_.count(name)) {
            std::string value;
            if (name.size() < arg.size()) {
                value = arg.substr(name.size() + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                complain(name + " needs a value");
                return false;
            }
            if (value.empty()) {
                complain(name + " needs a non-empty value");
                return false;
            }
            values_[name] = value;
        } else {
            complain("unknown option '" + arg + "'");
            return false;
        }
    }
    return true;
}

std::optional<std::string> OptionParser::value(const std::string& name) const {
    auto found = values_.find(name);
    return found == values_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

bool OptionParser::positiveInteger(const std::string& name, std::optional<int>& out) const {
    auto text = value(name);
    if (!text) {
        return true;
    }
    int number = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (error != std::errc() || end != text->data() + text->size() || number < 1) {
        complain(name + " needs a whole number of at least 1, not '" + *text + "'");
        return false;
    }
    out = number;
    return true;
}

bool OptionParser::onePositional(const std::string& whenMissing,
                                 const std::string& whenMore) const {
    if (positional_.size() == 1) {
        return true;
    }
    complain(positional_.empty() ? whenMissing : whenMore);
    return false;
}

bool OptionParser::noPositional() const {
    if (positional_.empty()) {
        return true;
    }
    complain("unexpected argument '" + positional_[0] + "'");
    return false;
}

} // namespace orlune::cli
