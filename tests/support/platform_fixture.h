#pragma once
// Test access to the platform stand-ins inside the sandbox: declares objects
// through tests/platform/fixture, runs command lines as the module runs them,
// reads the call logs and checks XML against the platform's schemas.

#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace kevra_test {

// IDs of what `Platform::declare_web_template` declares.
struct WebTemplate {
  std::string files_datastore;  // "default": TM_MAD shared, FILE images, SAFE_DIRS /var/tmp
  std::string ceph_datastore;   // "ceph": TM_MAD ceph, RBD images in pool one
  std::string os_image;         // "web-os": OS, prefix vd, content "web-os boot sector"
  std::string data_image;       // "web-data": DATABLOCK, persistent, 1 MiB + 3 bytes
  std::string rbd_image;        // "web-rbd": OS in ceph, 70000 bytes
  std::string id;               // template "web"
};

class Platform {
 public:
  // The usual platform of a template test: the two datastores and three
  // images of `WebTemplate`, and template "web" with CPU 1, MEMORY 512 and
  // four disks in this order: web-os by IMAGE_ID, web-data by IMAGE and
  // IMAGE_UNAME oneadmin, a volatile disk (TYPE fs, SIZE 64), web-rbd by IMAGE_ID.
  WebTemplate declare_web_template() const;

  // Runs `tests/platform/fixture args...` and returns its standard output
  // without the last line end; a non-zero exit fails the current test.
  std::string fixture(const std::vector<std::string>& args) const;

  // The declaring verbs: each returns the new object's ID.
  std::string datastore(const std::vector<std::string>& options) const;
  std::string image(const std::vector<std::string>& options) const;
  std::string vm_template(const std::vector<std::string>& options) const;

  // A field of an image as `fixture get image REF FIELD` prints it.
  std::string image_field(const std::string& image, const std::string& field) const;

  // The call log of one stand-in ("onetemplate", "hxfd", ... or "all"), one line per call.
  std::vector<std::string> calls(const std::string& tool) const;

  // Runs a shell command line the way the module does (/bin/sh -c).
  ProgramResult shell(const std::string& command_line) const;

  // True when `xml` validates with `validator` (KEVRA_REQUIRE_PLATFORM_SCHEMAS
  // gives it); `report` receives the validator's output either way.
  bool validates(const std::string& validator, const std::string& xml, std::string& report) const;
};

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// Writes `content` to `path`, replacing it.
void write_file(const std::string& path, const std::string& content);

// A private scratch folder of the current sandbox, created on first use.
std::string scratch_dir(const std::string& name);

// Every path below `directory`, relative to it and sorted; empty when it does not exist.
std::vector<std::string> list_tree(const std::string& directory);

}  // namespace kevra_test
