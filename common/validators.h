#ifndef KEVRA_COMMON_VALIDATORS_H
#define KEVRA_COMMON_VALIDATORS_H

// Checks of texts that the product's programs take from users and files:
// numbers, times, host names, mail addresses, URLs, IP addresses, UUIDs and
// the password rule. None of these functions throws or writes a log record.

#include <string>

namespace kelvomar_common {
namespace null_ip_addrs {

inline const std::string NULL_IPV4_ADDR = "0.0.0.0";
inline const std::string NULL_IPV6_ADDR = "::";

}  // namespace null_ip_addrs
}  // namespace kelvomar_common

namespace hx_utils_common {

// True when `text` is the canonical decimal form of a number from 0 to
// 18446744073709551615 (no sign, blank, leading zero or trailing character).
bool is_uint(const std::string& text);

// When `text` passes is_uint and its number fits in unsigned int: stores it in
// `value` and returns true. Otherwise returns false and leaves `value` untouched.
bool string_to_uint(const std::string& text, unsigned int& value);

// True when the text begins with a time of day written "%H:%M:%S" (what follows
// the seconds is not examined); false otherwise.
bool is_time(const std::string& text);

// True when the whole text is a host name: dot-separated labels of letters,
// digits and inner hyphens, 1 to 63 characters each; false otherwise.
bool is_hostname(const std::string& text);

// True when the whole text has the form local@domain.tld (a top-level domain
// of 2 to 6 letters); false otherwise.
bool is_email(const std::string& text);

// True when the whole text is a host name ending in a top-level domain of 2 to
// 6 lower-case letters, with an optional "https://" before it and an optional
// path after it; false otherwise.
bool is_https_url_strict(const std::string& text);

// True when the whole text is "https://" followed by a dotted IPv4 address or
// by eight groups of 1 to 4 hexadecimal digits separated by ':'; false otherwise.
bool is_https_ip_strict(const std::string& text);

// True when the text parses as an IPv4 or IPv6 address; false otherwise.
bool is_ip_address(const std::string& text);

// True when the text is a UUID (32 hexadecimal digits, optional hyphens between
// the groups and optional braces) of version 1 to 5; false otherwise.
bool is_valid_uuid(const std::string& text);

// With `rule_only`: sets `message` to the rule text and returns false. Otherwise
// returns true for a password of at least 12 bytes with an upper-case letter, a
// punctuation character and a digit (`message` untouched); else sets `message` to
// the rule text and returns false.
bool check_password_complexity(const std::string& password, std::string& message, bool rule_only);

}  // namespace hx_utils_common

#endif
