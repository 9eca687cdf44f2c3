// Strict JSON parsing and the value texts of the per-task JSON documents.
#include "modules/json_text.h"

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <set>
#include <vector>

namespace kelvomar {
namespace module {

namespace {

std::string without_double_quotes(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

boost::json::parse_options strict_options()
{
    boost::json::parse_options options;
    options.max_depth = 32;
    options.allow_comments = false;
    options.allow_trailing_commas = false;
    options.allow_invalid_utf8 = false;
    return options;
}

using boost::json::string_view;
using error_code = boost::system::error_code;

// Parser events that keep the keys of every open object and stop at the first
// key that an object already has.
struct duplicate_key_handler {
    static constexpr std::size_t max_array_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_object_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_string_size = static_cast<std::size_t>(-1);
    static constexpr std::size_t max_key_size = static_cast<std::size_t>(-1);

    std::vector<std::set<std::string>> open_objects;
    std::string key;
    bool found = false;

    bool on_document_begin(error_code&) { return true; }
    bool on_document_end(error_code&) { return true; }
    bool on_array_begin(error_code&) { return true; }
    bool on_array_end(std::size_t, error_code&) { return true; }
    bool on_object_begin(error_code&)
    {
        open_objects.emplace_back();
        return true;
    }
    bool on_object_end(std::size_t, error_code&)
    {
        open_objects.pop_back();
        return true;
    }
    bool on_string_part(string_view, std::size_t, error_code&) { return true; }
    bool on_string(string_view, std::size_t, error_code&) { return true; }
    bool on_key_part(string_view part, std::size_t, error_code&)
    {
        key.append(part.data(), part.size());
        return true;
    }
    bool on_key(string_view part, std::size_t, error_code& ec)
    {
        key.append(part.data(), part.size());
        if (!open_objects.back().insert(key).second) {
            found = true;
            ec = boost::json::error::syntax;
            return false;
        }
        key.clear();
        return true;
    }
    bool on_number_part(string_view, error_code&) { return true; }
    bool on_int64(std::int64_t, string_view, error_code&) { return true; }
    bool on_uint64(std::uint64_t, string_view, error_code&) { return true; }
    bool on_double(double, string_view, error_code&) { return true; }
    bool on_bool(bool, error_code&) { return true; }
    bool on_null(error_code&) { return true; }
    bool on_comment_part(string_view, error_code&) { return true; }
    bool on_comment(string_view, error_code&) { return true; }
};

}  // namespace

bool find_duplicate_key(const std::string& text, std::string& key)
{
    boost::json::basic_parser<duplicate_key_handler> parser(strict_options());
    error_code ec;
    parser.write_some(false, text.data(), text.size(), ec);
    if (!parser.handler().found)
        return false;
    key = parser.handler().key;
    return true;
}

boost::json::value parse_strict_json(const std::string& text, boost::system::error_code& error)
{
    return boost::json::parse(text, error, boost::json::storage_ptr(), strict_options());
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
