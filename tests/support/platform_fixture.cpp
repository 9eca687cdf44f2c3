#include "tests/support/platform_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kevra_test {
namespace {

std::string chomp(std::string text) {
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return text;
}

std::vector<std::string> with_verb(const std::string& verb, const std::vector<std::string>& options) {
  std::vector<std::string> args{verb};
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

}  // namespace

std::string Platform::fixture(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{source_path("tests/platform/fixture")};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProgramResult result = run_program(argv);
  std::string line;
  for (const auto& arg : args) {
    line += " " + arg;
  }
  EXPECT_EQ(result.exit_status, 0) << "fixture" << line << " failed: " << result.err;
  return chomp(result.out);
}

WebTemplate Platform::declare_web_template() const {
  WebTemplate web;
  web.files_datastore = datastore({"--name", "default"});
  web.ceph_datastore = datastore({"--name", "ceph", "--tm-mad", "ceph"});
  web.os_image = image({"--name", "web-os", "--datastore", "default", "--prefix", "vd", "--content",
                        "web-os boot sector"});
  web.data_image = image({"--name", "web-data", "--datastore", "default", "--type", "DATABLOCK", "--size-bytes",
                          "1048579", "--persistent"});
  web.rbd_image = image({"--name", "web-rbd", "--datastore", "ceph", "--size-bytes", "70000"});
  web.id = vm_template({"--name", "web", "--attr", "CPU=1", "--attr", "MEMORY=512", "--disk",
                        "IMAGE_ID=" + web.os_image, "--disk", "IMAGE=web-data,IMAGE_UNAME=oneadmin", "--disk",
                        "TYPE=fs,SIZE=64", "--disk", "IMAGE_ID=" + web.rbd_image});
  return web;
}

std::string Platform::datastore(const std::vector<std::string>& options) const {
  return fixture(with_verb("datastore", options));
}

std::string Platform::image(const std::vector<std::string>& options) const {
  return fixture(with_verb("image", options));
}

std::string Platform::vm_template(const std::vector<std::string>& options) const {
  return fixture(with_verb("template", options));
}

std::string Platform::image_field(const std::string& image, const std::string& field) const {
  return fixture({"get", "image", image, field});
}

std::vector<std::string> Platform::calls(const std::string& tool) const {
  std::vector<std::string> lines;
  std::istringstream log(fixture({"calls", tool}));
  for (std::string line; std::getline(log, line);) {
    lines.push_back(line);
  }
  return lines;
}

ProgramResult Platform::shell(const std::string& command_line) const {
  return run_program({"/bin/sh", "-c", command_line});
}

bool Platform::validates(const std::string& validator, const std::string& xml, std::string& report) const {
  const std::string file = scratch_dir("validate") + "/document.xml";
  write_file(file, xml);
  const ProgramResult result = run_program({"/bin/sh", validator, file});
  report = result.out + result.err;
  return result.exit_status == 0 && result.out.find(" validates") != std::string::npos;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string scratch_dir(const std::string& name) {
  const char* root = std::getenv("KEVRA_SANDBOX_ROOT");
  const std::string dir = std::string(root != nullptr ? root : "/tmp") + "/scratch-" + name;
  ::mkdir(dir.c_str(), 0755);
  return dir;
}

std::vector<std::string> list_tree(const std::string& directory) {
  namespace fs = boost::filesystem;
  std::vector<std::string> paths;
  if (!fs::exists(directory)) {
    return paths;
  }
  for (fs::recursive_directory_iterator it(directory), end; it != end; ++it) {
    paths.push_back(fs::relative(it->path(), directory).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace kevra_test
