#pragma once
// Turning texts into vectors of their meaning: what the semantic search
// needs from a model server, behind an interface so that the embedding run
// and the answer engine can be given another source (a test's).

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::core {

// Why the model server gave no vectors, in words a person can act on.
class EmbeddingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EmbeddingGateway {
public:
    virtual ~EmbeddingGateway() = default;

    // One vector per text of `texts`, in their order, all of one length,
    // made by `model`. Gives up after `timeout`. Throws EmbeddingError.
    virtual std::vector<std::vector<float>> embed(const std::string& model,
                                                  const std::vector<std::string>& texts,
                                                  std::chrono::milliseconds timeout) = 0;
};

} // namespace orlune::core
