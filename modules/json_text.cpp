// Strict JSON parsing and the value texts of the per-task JSON documents.
#include "modules/json_text.h"

#include <algorithm>

namespace kelvomar {
namespace module {

namespace {

std::string without_double_quotes(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

}  // namespace

boost::json::value parse_strict_json(const std::string& text, boost::system::error_code& error)
{
    boost::json::parse_options options;
    options.max_depth = 32;
    options.allow_comments = false;
    options.allow_trailing_commas = false;
    options.allow_invalid_utf8 = false;
    return boost::json::parse(text, error, boost::json::storage_ptr(), options);
}

std::string unquoted_json_text(const boost::json::value& value)
{
    return without_double_quotes(boost::json::serialize(value));
}

std::string unquoted_json_text(boost::json::string_view key)
{
    return without_double_quotes(boost::json::serialize(key));
}

}  // namespace module
}  // namespace kelvomar
