#ifndef KEVRA_MODULES_RESOURCE_LIST_H
#define KEVRA_MODULES_RESOURCE_LIST_H

#include <string>
#include <vector>

// The resources named by a JSON resource list file (option backup_list), in the
// order of the file.
class ResourceList {
public:
    ResourceList() = default;
    ResourceList(const ResourceList&) = default;
    ResourceList& operator=(const ResourceList&) = default;
    ~ResourceList() = default;

    // Empties the list.
    void clear();

    // True when the list holds no resource.
    bool is_empty() const;

    // Replaces the list with the "path" members of the objects directly inside
    // the file's root value (parse_resource_list_json). True when the file was
    // read (a file without any path only warns); false with an Error record
    // when the file is missing, unreadable, not strict JSON or has an object
    // with two members of one key.
    bool parse_json_file(const std::string& path);

    // False, with an Error record naming the restriction, when a resource of the
    // list equals one of `restrictions`; true otherwise.
    bool check_local_restrictions(const std::vector<std::string>& restrictions) const;

    // The resources in file order.
    const std::vector<std::string>& resources() const { return resources_; }

private:
    std::vector<std::string> resources_;
};

namespace kelvomar {
namespace module {

// The resources of a resource list text, read as strict JSON (no comments or
// trailing commas, valid UTF-8, nesting depth at most 32): the value of the
// "path" member of each object directly inside the root value, in document
// order; a string gives its content, a number or literal its JSON text, an
// object or array the empty text. False with the parser's text in `error`
// when the text is not such JSON, and with "duplicate key: " and the key when
// an object of it has two members of one key. Never throws beyond std::bad_alloc.
bool parse_resource_list_json(const std::string& text, std::vector<std::string>& paths, std::string& error);

}  // namespace module
}  // namespace kelvomar

#endif
