#pragma once
// The model gateway's addresses, in one place: the application links to its
// sign-up page and the bundled helper sends its requests to its API unless
// the person chose another model server.

namespace orlune::core::gateway {

// The gateway's web site, as shown to the user.
inline constexpr const char* kDomainName = "veyrlink.com";
// Where a user gets an API key.
inline constexpr const char* kSignUpAddress = "https://veyrlink.com/signup";
// The chat-completions API the helper calls unless VEYRLINK_BASE_URL names another.
inline constexpr const char* kDefaultAPIBaseURL = "https://api.veyrlink.com/v1";
// The model asked for when neither the request nor the settings name one.
inline constexpr const char* kDefaultModel = "openai/gpt-4o-mini";

} // namespace orlune::core::gateway
