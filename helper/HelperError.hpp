#pragma once
// The failures the helper reports to the application in the response's
// "error" object. The kind gives the object's "type"; what() is its "message",
// a sentence a user can read. Messages never carry the API key.

#include <exception>
#include <string>

namespace orlune::helper {

class HelperError : public std::exception {
public:
    enum class Kind {
        invalidRequest, // the request document is not usable
        database,       // the shadow database cannot be opened or read
        gateway,        // the model gateway failed or answered nonsense
        timeout,        // the overall deadline passed
        limit,          // the model did not finish within its calls
        internal,       // anything else
    };

    HelperError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind() const { return kind_; }
    // The "type" text of the response's error object, e.g. "invalid_request".
    std::string typeName() const;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string message_;
};

} // namespace orlune::helper
