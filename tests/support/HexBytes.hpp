#pragma once
// Test support: bytes written as hexadecimal text, and archives written by
// other programs that several tests read.

#include <string>
#include <string_view>

namespace orlune::testing {

// The bytes spelled by the hexadecimal digits in `hex` (either case); every
// other character (spaces, line breaks) is skipped. A lone last digit is
// dropped.
std::string bytesFromHex(std::string_view hex);

// A message_summary_info property list written by Python's plistlib:
//   {"ec": {"0": [{"d": 690513474, "t": <body of "Hi there">},
//                 {"d": 690513480, "t": <body of "Hi where">}]},
//    "otr": {"0": {"le": 8, "lo": 0}}, "rp": []}
// where the bodies are the archiver's own bytes: part 0 edited once.
const std::string& summaryEditedTwice();

} // namespace orlune::testing
