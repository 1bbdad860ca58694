#pragma once
// Where users get a Veyrlink API key: the one place that names the gateway's
// web site in the user interface.

#include "base/Gateway.hpp"

namespace orlune::rlm {

struct GatewayLink {
    const char* domainName;    // the link's label
    const char* signUpAddress; // where the link leads
};

inline constexpr GatewayLink kGatewayLink{core::gateway::kDomainName,
                                          core::gateway::kSignUpAddress};

} // namespace orlune::rlm
