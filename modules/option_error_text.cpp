// The command-line parser's error texts, made in bounded time.
#include "modules/option_error_text.h"

#include <boost/program_options/errors.hpp>

#include <map>

namespace kelvomar {
namespace module {

namespace {

namespace po = boost::program_options;

// Reads the texts an option error quotes (option name, original token, value),
// which the library keeps for its derived classes only.
struct quoted_texts : po::error_with_option_name {
    static const std::map<std::string, std::string>& of(const po::error_with_option_name& error)
    {
        return error.*(&quoted_texts::m_substitutions);
    }
};

std::string without_placeholders(const std::string& text)
{
    std::string neutral;
    for (char c : text) {
        if (c == '%')
            neutral += "%25";
        else
            neutral += c;
    }
    return neutral;
}

}  // namespace

std::string option_error_text(std::exception& error)
{
    auto* option_error = dynamic_cast<po::error_with_option_name*>(&error);
    if (option_error != nullptr) {
        const std::map<std::string, std::string> texts = quoted_texts::of(*option_error);
        for (const auto& text : texts) {
            if (text.second.find('%') != std::string::npos)
                option_error->set_substitute(text.first, without_placeholders(text.second));
        }
    }
    return error.what();
}

}  // namespace module
}  // namespace kelvomar
