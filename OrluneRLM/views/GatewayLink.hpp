#pragma once
// Where users get a Veyrlink API key: the one place that names the gateway's
// web site in the user interface.

namespace orlune::rlm {

struct GatewayLink {
    const char* domainName;    // the link's label
    const char* signUpAddress; // where the link leads
};

inline constexpr GatewayLink kGatewayLink{"veyrlink.com", "https://veyrlink.com/signup"};

} // namespace orlune::rlm
