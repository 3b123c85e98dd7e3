#pragma once

#include <string_view>

namespace kestrova {

// The descriptions of the minisign errors that the signature check can meet.
inline constexpr std::string_view kMinisignInvalidEncoding = "Invalid encoding in minisign data";
inline constexpr std::string_view kMinisignVerificationFailed = "The signature verification failed";
inline constexpr std::string_view kMinisignWrongKey =
    "The signature was created with a different key than the one provided";
inline constexpr std::string_view kMinisignUnsupportedAlgorithm =
    "This signature algorithm is not supported by this implementation";
inline constexpr std::string_view kMinisignLegacyMode =
    "StreamVerifier only supports non-legacy mode signatures";

}  // namespace kestrova
