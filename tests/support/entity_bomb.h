#pragma once
// An XML document that declares one internal entity of `size` bytes and
// references it `references` times in the NAME of a `record` element below the
// root `root` (no record: NAME directly below the root). Expanded it would be
// size * references bytes long.

#include <cstddef>
#include <string>

namespace kevra_test {

inline std::string entity_bomb(const std::string& root, const std::string& record = "", std::size_t size = 20000,
                               std::size_t references = 5000)
{
    std::string name = "<NAME>";
    for (std::size_t i = 0; i < references; ++i) {
        name += "&e;";
    }
    name += "</NAME>";
    if (!record.empty()) {
        name = "<" + record + "><ID>0</ID>" + name + "</" + record + ">";
    }
    return "<!DOCTYPE " + root + " [<!ENTITY e \"" + std::string(size, 'x') + "\">]>\n<" + root + ">" + name + "</" +
           root + ">\n";
}

}  // namespace kevra_test
