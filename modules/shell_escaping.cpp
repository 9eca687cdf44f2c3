#include "modules/shell_escaping.h"

#include <cstring>
#include <exception>
#include <vector>

namespace {

// The characters that get a backslash, in the order in which they are tested.
const char kShieldedCharacters[] = " \\'\"^*?[]{}><|;&$!()`~#:@.%";

bool is_shielded(char c)
{
    // strchr would also match the terminating NUL, which is not in the set.
    return c != '\0' && std::strchr(kShieldedCharacters, c) != nullptr;
}

bool is_control(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

}  // namespace

void shield_string_for_command(std::string& text)
{
    std::string shielded;
    shielded.reserve(text.size() + text.size() / 4);
    for (char c : text) {
        if (is_shielded(c)) {
            shielded += '\\';
            shielded += c;
        } else if (is_control(c)) {
            // A backslash before a line feed would join lines and drop it, and a bare
            // tab or line feed ends the word: single quotes keep it, inside the word.
            shielded += '\'';
            shielded += c;
            shielded += '\'';
        } else {
            shielded += c;
        }
    }
    text.swap(shielded);
}

int split_full_version(const std::string& full_version, std::string& major_minor,
                       std::string& third, std::string& fourth)
{
    try {
        std::vector<std::string> pieces(1);
        for (char c : full_version) {
            if (c == '.')
                pieces.emplace_back();
            else
                pieces.back() += c;
        }
        pieces.resize(pieces.size() < 4 ? 4 : pieces.size());
        major_minor = pieces[0] + "." + pieces[1];
        third = pieces[2];
        fourth = pieces[3];
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}
