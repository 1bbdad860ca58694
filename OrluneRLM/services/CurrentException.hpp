#pragma once
// Describing an exception caught with catch (...), for the view models that
// run work on a pool thread and publish its failure as text.

#include <string>

namespace orlune::rlm {

// The what() of the exception being handled, or "Unknown error" when it is
// not a std::exception. Call only inside a catch block.
std::string describeCurrentException();

} // namespace orlune::rlm
