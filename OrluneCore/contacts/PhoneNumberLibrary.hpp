#pragma once
// libphonenumber behind a boundary of plain C types: only
// PhoneNumberLibrary.cpp includes it. libphonenumber's interface is made of
// std::string, so its callers must use the C++ standard library it was
// built with; behind this boundary the rest of the program need not. (The
// libc++ build, which builds on Linux with the Mac's C++ library, links
// Debian's libstdc++-built libphonenumber this way, compiling only
// PhoneNumberLibrary.cpp against libstdc++.) Pure; any thread.

#include <cstddef>

extern "C" {

// A phone number placed with its country.
struct OrlunePhoneNumber {
    char e164[32];     // "+15550100001", NUL-terminated
    char national[32]; // the national significant number, "5550100001"
    int regionAssumed; // 1 when the country came from the default region
};

// Writes the digits of the `size` bytes at `text` (digits of any script, as
// ASCII, nothing else) to `out`, which holds at least `size` bytes: never
// more digits than bytes. Returns how many were written.
size_t orlune_phone_digits(const char* text, size_t size, char* out);

// 1 when `region` (upper-case ISO 3166 code, NUL-terminated) is one
// libphonenumber knows, else 0.
int orlune_phone_region_known(const char* region);

// Parses the `size` bytes at `text` as a phone number of `region` (a known
// region, or "ZZ" for none) and returns 1 with `number` filled when it
// parses and its length is possible there; else 0.
int orlune_phone_parse(const char* text, size_t size, const char* region,
                       OrlunePhoneNumber* number);
}
