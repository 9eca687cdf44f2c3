#include "common/validators.h"

#include <boost/asio/ip/address.hpp>
#include <boost/regex.hpp>
#include <boost/system/error_code.hpp>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace hx_utils_common {
namespace {

// Boost.Regex rather than std::regex: its matcher is not recursive, so a long
// text cannot exhaust the stack; an over-complex match throws and reads as false.
bool whole_match(const std::string& text, const char* expression)
{
    try {
        const boost::regex pattern(expression, boost::regex::ECMAScript);
        return boost::regex_match(text, pattern);
    } catch (const std::exception&) {
        return false;
    }
}

const char* const kHostname =
    "^([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}[a-zA-Z0-9])"
    "(\\.([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}[a-zA-Z0-9]))*$";
const char* const kEmail = "^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,6}$";
const char* const kHttpsUrl =
    "(https://)?[a-zA-Z0-9@:%._\\-\\+~#?&//=]{2,256}\\.[a-z]{2,6}\\b([-a-zA-Z0-9@%._\\-\\//=]*)";
const char* const kHttpsIpv4 =
    "https://(([0-9]|[1-9][0-9]|1[0-9][0-9]|2[0-4][0-9]|25[0-5])\\.){3}"
    "([0-9]|[1-9][0-9]|1[0-9][0-9]|2[0-4][0-9]|25[0-5])";
const char* const kHttpsIpv6 = "https://((([0-9a-fA-F]){1,4})\\:){7}([0-9a-fA-F]){1,4}";

constexpr std::size_t kPasswordMinLength = 12;
constexpr int kPasswordMinUpper = 1;
constexpr int kPasswordMinSpecial = 1;
constexpr int kPasswordMinDigits = 1;

std::string password_rule()
{
    std::ostringstream rule;
    rule << "Password minimum length must be no shorter than " << kPasswordMinLength
         << " symbols and must contain at least " << kPasswordMinUpper << " upper case letter, "
         << kPasswordMinSpecial << " special character, " << kPasswordMinDigits << " digit";
    return rule.str();
}

}  // namespace

bool is_uint(const std::string& text)
{
    if (text.empty()) {
        return false;
    }
    try {
        errno = 0;
        char* end = nullptr;
        const unsigned long value = std::strtoul(text.c_str(), &end, 10);
        if (errno != 0 || end == text.c_str()) {
            return false;
        }
        return std::to_string(value) == text;
    } catch (const std::exception&) {
        return false;
    }
}

bool string_to_uint(const std::string& text, unsigned int& value)
{
    if (!is_uint(text)) {
        return false;
    }
    const unsigned long number = std::strtoul(text.c_str(), nullptr, 10);
    // A larger number would be stored cut to 32 bits: refuse it instead.
    if (number > static_cast<unsigned long>(static_cast<unsigned int>(-1))) {
        return false;
    }
    value = static_cast<unsigned int>(number);
    return true;
}

bool is_time(const std::string& text)
{
    try {
        // The parser stops without failing when the text ends early ("12" or
        // "12:00" would pass): a blank after the text makes a missing field fail,
        // while a complete time never reads it.
        std::istringstream in(text + " ");
        in.imbue(std::locale::classic());
        std::tm parsed{};
        in >> std::get_time(&parsed, "%H:%M:%S");
        return !in.fail();
    } catch (const std::exception&) {
        return false;
    }
}

bool is_hostname(const std::string& text)
{
    return whole_match(text, kHostname);
}

bool is_email(const std::string& text)
{
    return whole_match(text, kEmail);
}

bool is_https_url_strict(const std::string& text)
{
    return whole_match(text, kHttpsUrl);
}

bool is_https_ip_strict(const std::string& text)
{
    return whole_match(text, kHttpsIpv4) || whole_match(text, kHttpsIpv6);
}

bool is_ip_address(const std::string& text)
{
    try {
        boost::system::error_code error;
        boost::asio::ip::make_address(text, error);
        return !error;
    } catch (const std::exception&) {
        return false;
    }
}

bool is_valid_uuid(const std::string& text)
{
    try {
        const boost::uuids::uuid id = boost::uuids::string_generator()(text);
        const int version = static_cast<int>(id.version());
        return version >= 1 && version <= 5;
    } catch (const std::exception&) {
        return false;
    }
}

bool check_password_complexity(const std::string& password, std::string& message, bool rule_only)
{
    try {
        if (!rule_only && password.size() >= kPasswordMinLength) {
            int upper = 0;
            int special = 0;
            int digits = 0;
            // The character classes of the classic locale, whatever the
            // process's global locale is: bytes above 0x7f belong to none.
            const auto& classes = std::use_facet<std::ctype<char>>(std::locale::classic());
            for (const char c : password) {
                upper += classes.is(std::ctype_base::upper, c) ? 1 : 0;
                special += classes.is(std::ctype_base::punct, c) ? 1 : 0;
                digits += classes.is(std::ctype_base::digit, c) ? 1 : 0;
            }
            if (upper >= kPasswordMinUpper && special >= kPasswordMinSpecial && digits >= kPasswordMinDigits) {
                return true;
            }
        }
        message = password_rule();
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace hx_utils_common
