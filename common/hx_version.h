#ifndef KEVRA_COMMON_HX_VERSION_H
#define KEVRA_COMMON_HX_VERSION_H

#include <cstdint>
#include <sstream>
#include <string>

namespace kelvomar {

// A product version: major.minor.patch.
struct Version {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;

    constexpr Version() = default;
    constexpr Version(std::uint32_t major_number, std::uint32_t minor_number, std::uint32_t patch_number)
        : major(major_number), minor(minor_number), patch(patch_number)
    {
    }

    // The version as "major.minor.patch"; never fails.
    std::string to_string() const;
    // The same text as a wide string; never fails.
    std::wstring to_wstring() const;

    // True when this version may directly follow `other`: the next patch of the
    // same minor, patch 0 of the next minor, or 0.0 of the next major; false otherwise.
    bool is_accessible_from(const Version& other) const;
};

inline constexpr bool operator==(const Version& a, const Version& b)
{
    return a.major == b.major && a.minor == b.minor && a.patch == b.patch;
}

inline constexpr bool operator!=(const Version& a, const Version& b)
{
    return !(a == b);
}

// Writes major, ".", minor, ".", patch in decimal to any output stream and returns it.
template <class Stream>
Stream& operator<<(Stream& stream, const Version& version)
{
    stream << version.major << '.' << version.minor << '.' << version.patch;
    return stream;
}

// The version's text in the character type CharT; never fails.
template <class CharT>
std::basic_string<CharT> std_string_from(const Version& version)
{
    std::basic_ostringstream<CharT> stream;
    stream << version;
    return stream.str();
}

inline constexpr Version version_unknown{0, 0, 0};
inline constexpr Version version_current{2, 1, 0};

// The text of version_current, built before main runs.
extern const std::string version_current_string;
extern const std::wstring version_current_wstring;

}  // namespace kelvomar

#endif
