#pragma once
// Argument parsing shared by the verbs: "--name VALUE", "--name=VALUE",
// boolean flags and positional arguments, with the verb's own messages.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlune::cli {

class OptionParser {
public:
    // `verb` names the verb in messages ("orlune search: ...").
    OptionParser(std::string verb, std::set<std::string> valueOptions, std::set<std::string> flags);

    // Parses `args`. Returns false after printing the reason (and a pointer to
    // --help) on standard error. "--" ends the options; anything after it, and
    // any argument not starting with "--", is positional.
    bool parse(const std::vector<std::string>& args);

    std::optional<std::string> value(const std::string& name) const;
    bool flag(const std::string& name) const { return flags_.count(name) > 0; }
    const std::vector<std::string>& positional() const { return positional_; }

    // The value of `name` as a whole number of at least 1; absent when the
    // option was not given. Prints the reason and returns false when it is
    // not such a number.
    bool positiveInteger(const std::string& name, std::optional<int>& out) const;

    // True when exactly one positional argument was given; otherwise
    // complains with `whenMissing` (none given) or `whenMore` and returns false.
    bool onePositional(const std::string& whenMissing, const std::string& whenMore) const;
    // True when no positional argument was given; otherwise complains about
    // the first one and returns false.
    bool noPositional() const;

    // Prints "orlune VERB: <message>" and the --help hint on standard error.
    void complain(const std::string& message) const;

private:
    std::string verb_;
    std::set<std::string> valueOptions_;
    std::set<std::string> flagOptions_;
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
};

} // namespace orlune::cli
