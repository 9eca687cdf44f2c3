#include "common/hx_version.h"

namespace kelvomar {

const std::string version_current_string = std_string_from<char>(version_current);
const std::wstring version_current_wstring = std_string_from<wchar_t>(version_current);

std::string Version::to_string() const
{
    return std_string_from<char>(*this);
}

std::wstring Version::to_wstring() const
{
    return std_string_from<wchar_t>(*this);
}

namespace {

// b is a + 1, without letting a + 1 wrap around to 0.
bool is_next(std::uint32_t a, std::uint32_t b)
{
    return b > a && b - a == 1;
}

}  // namespace

bool Version::is_accessible_from(const Version& other) const
{
    if (major == other.major && minor == other.minor)
        return patch == other.patch || is_next(other.patch, patch);
    if (major == other.major && is_next(other.minor, minor))
        return patch == 0;
    if (is_next(other.major, major))
        return minor == 0 && patch == 0;
    return false;
}

}  // namespace kelvomar
