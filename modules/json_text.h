#ifndef KEVRA_MODULES_JSON_TEXT_H
#define KEVRA_MODULES_JSON_TEXT_H
// Strict JSON for the per-task texts (storage records, the deletion and the
// electronic-signature JSON): no comments, no trailing commas, valid UTF-8
// only, nesting depth at most 32; and the value texts read from them.

#include <boost/json.hpp>

#include <string>

namespace kelvomar {
namespace module {

// Parses `text` strictly. Returns the value; on a syntax error (too deep
// included) returns null with `error` set. Throws std::bad_alloc when memory
// runs out.
boost::json::value parse_strict_json(const std::string& text, boost::system::error_code& error);

// True when an object of the JSON `text` has two members whose keys have the
// same content (escapes read), anywhere in the document; `key` is then the
// first such key. Meant for a text that parse_strict_json accepts (it reads it
// with the same options; a text it refuses gives false). Never throws beyond
// std::bad_alloc.
bool find_duplicate_key(const std::string& text, std::string& key);

// The value written back as compact JSON text with every double-quote
// character removed: a string gives its content with its escapes as written,
// a number its digits. Never throws beyond std::bad_alloc.
std::string unquoted_json_text(const boost::json::value& value);

// A member key written back the same way, that is its content.
std::string unquoted_json_text(boost::json::string_view key);

}  // namespace module
}  // namespace kelvomar

#endif
