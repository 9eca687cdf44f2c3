// The stand-ins read names as the real platform does: the names it refuses,
// list arguments split at commas into IDs, ranges and names, single look-ups
// for show and clone, and a template of the clone's name made by another
// process just before the clone.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/cases/standin_test.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

class StandinNames : public kevra_test::StandinTest {
 protected:
  void arrange() override { ds_ = p_.datastore({"--name", "files"}); }

  // "onetemplate ..." or "oneimage ..." with every argument in single quotes.
  kevra_test::ProgramResult run(const std::string& tool, const std::vector<std::string>& args) {
    std::string line = "/usr/bin/" + tool;
    for (const std::string& arg : args) {
      std::string quoted;
      for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      line += " '" + quoted + "'";
    }
    return p_.shell(line);
  }

  // The names of the platform's templates, sorted.
  std::set<std::string> template_names() {
    std::set<std::string> names;
    std::istringstream lines(p_.fixture({"list", "templates"}));
    for (std::string line; std::getline(lines, line);) {
      const auto first = line.find('\t');
      const auto second = line.find('\t', first + 1);
      if (first != std::string::npos) names.insert(line.substr(first + 1, second - first - 1));
    }
    return names;
  }

  std::string ds_;
};

// Legal names are taken as they are; the refused ones fail with the platform's
// message and status, in a clone, a template create and an image create alike.
TEST_F(StandinNames, NamesThePlatformRefusesAreRefusedEverywhere) {
  KEVRA_REQUIRE_SANDBOX();
  p_.vm_template({"--name", "web"});
  const std::string file = kevra_test::scratch_dir("names") + "/data";
  kevra_test::write_file(file, "x");
  struct Case {
    std::string name;
    std::string reason;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"bk,victim", ""}, {"3..5", ""}, {"42", ""}, {"a b", ""}, {"a\nb", ""}, {std::string(128, 'n'), ""},
      {"", "Invalid NAME, it cannot be empty."}, {std::string(129, 'n'), "Invalid NAME, max length is 128."},
      {"a&b", "Invalid NAME, char '&' is not allowed."}, {"a|b", "Invalid NAME, char '|' is not allowed."},
      {"a:b", "Invalid NAME, char ':' is not allowed."}, {"a\\b", "Invalid NAME, char '\\' is not allowed."},
      {"a\"b", "Invalid NAME, char '\"' is not allowed."}, {"a;b", "Invalid NAME, char ';' is not allowed."},
      {"a/b", "Invalid NAME, char '/' is not allowed."}, {"a'b", "Invalid NAME, char ''' is not allowed."},
      {"a#b", "Invalid NAME, char '#' is not allowed."}, {"a{b", "Invalid NAME, char '{' is not allowed."},
      {"a}b", "Invalid NAME, char '}' is not allowed."}, {"a$b", "Invalid NAME, char '$' is not allowed."},
      {"a<b", "Invalid NAME, char '<' is not allowed."}, {"a>b", "Invalid NAME, char '>' is not allowed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto clone = run("onetemplate", {"clone", "web", c.name});
    const auto image = run("oneimage", {"create", "-d", ds_, "--name", c.name, "--path", file});
    if (c.reason.empty()) {
      EXPECT_EQ(clone.exit_status, 0) << clone.err;
      EXPECT_EQ(image.exit_status, 0) << image.err;
      continue;
    }
    EXPECT_EQ(clone.exit_status, 255);
    EXPECT_EQ(clone.err, "[one.template.clone] " + c.reason + "\n");
    EXPECT_EQ(image.exit_status, 255);
    // An empty --name is no NAME at all to the image service.
    EXPECT_EQ(image.err, c.name.empty() ? std::string("[one.image.allocate] No NAME in template.\n")
                                        : "[one.image.allocate] Error allocating a new image. " + c.reason + "\n");
  }
  const std::string created = kevra_test::scratch_dir("names") + "/bad.tmpl";
  kevra_test::write_file(created, "NAME = \"a;b\"\n");
  const auto create = run("onetemplate", {"create", created});
  EXPECT_EQ(create.exit_status, 255);
  EXPECT_EQ(create.err,
            "[one.template.allocate] Error allocating a new virtual machine template. "
            "Invalid NAME, char ';' is not allowed.\n");
}

// A fixture template may hold a name that the CLI refuses (made some other
// way): it is shown and listed as it is, and clones of it still follow the rules.
TEST_F(StandinNames, UncheckedNameIsHeldAsGiven) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string id = p_.vm_template({"--name", "back\\slash", "--unchecked-name"});
  const auto show = run("onetemplate", {"show", "back\\slash", "-x"});
  EXPECT_EQ(show.exit_status, 0) << show.err;
  EXPECT_NE(show.out.find("<ID>" + id + "</ID>"), std::string::npos) << show.out;
  EXPECT_EQ(template_names(), (std::set<std::string>{"back\\slash"}));
  const auto clone = run("onetemplate", {"clone", id, "a\\b"});
  EXPECT_EQ(clone.exit_status, 255);
  EXPECT_EQ(clone.err, "[one.template.clone] Invalid NAME, char '\\' is not allowed.\n");
}

// A list argument is split at commas; each piece is an ID, a range or a name.
// IDs the platform does not know are reported and the others still go; a name
// that names nothing fails the call before anything is done.
TEST_F(StandinNames, ListArgumentsNameThePiecesNotTheWhole) {
  KEVRA_REQUIRE_SANDBOX();
  struct Case {
    std::string argument;
    std::vector<std::string> gone;  // templates deleted
    int exit_status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"bk,victim", {"bk", "victim"}, 0, ""},
      {"3..5", {"t3", "t5"}, 255, "[one.template.delete] Error getting virtual machine template [4].\n"},
      {"42", {"t42"}, 0, ""},
      {"victim,nobody", {}, 255, "VMTEMPLATE named nobody not found.\n"},
      {"a b", {"a b"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    p_.fixture({"reset"});
    p_.vm_template({"--name", "t3", "--id", "3"});
    p_.vm_template({"--name", "t5", "--id", "5"});
    p_.vm_template({"--name", "t42", "--id", "42"});
    for (const char* name : {"bk", "victim", "bk,victim", "3..5", "42", "a b"}) p_.vm_template({"--name", name});
    std::set<std::string> expected = template_names();
    for (const std::string& name : c.gone) expected.erase(name);
    const auto result = run("onetemplate", {"delete", c.argument});
    EXPECT_EQ(result.exit_status, c.exit_status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(template_names(), expected);
  }
  // Images and the other list commands read their argument the same way.
  p_.fixture({"reset"});
  ds_ = p_.datastore({"--name", "files"});
  p_.image({"--name", "bk", "--datastore", ds_});
  p_.image({"--name", "victim", "--datastore", ds_});
  EXPECT_EQ(run("oneimage", {"chmod", "bk,victim", "600"}).exit_status, 0);
  EXPECT_EQ(run("oneimage", {"lock", "bk,victim"}).exit_status, 0);
  EXPECT_EQ(run("oneimage", {"unlock", "bk,victim"}).exit_status, 0);
  EXPECT_EQ(run("oneimage", {"delete", "bk,victim"}).exit_status, 0);
  EXPECT_EQ(p_.fixture({"list", "images"}), "");
}

// show and clone look one object up: a name with a comma is that name, and a
// name two owners use is refused.
TEST_F(StandinNames, ShowAndCloneTakeOneIdOrName) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string odd = p_.vm_template({"--name", "bk,victim"});
  p_.vm_template({"--name", "bk"});
  const auto shown = run("onetemplate", {"show", "bk,victim", "-x"});
  EXPECT_EQ(shown.exit_status, 0) << shown.err;
  EXPECT_NE(shown.out.find("<ID>" + odd + "</ID>"), std::string::npos) << shown.out;
  p_.vm_template({"--name", "dup", "--owner", "oneadmin"});
  p_.vm_template({"--name", "dup", "--owner", "alice"});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show", "dup"}, std::vector<std::string>{"clone", "dup", "copy"}}) {
    const auto result = run("onetemplate", args);
    EXPECT_EQ(result.exit_status, 255) << args[0];
    EXPECT_EQ(result.err, "There are multiple VMTEMPLATEs with name dup.\n") << args[0];
  }
}

// Another process makes a template of the clone's name just before the clone:
// as the same user the clone fails on the taken name, as another the clone is
// made and the name is then shared.
TEST_F(StandinNames, NameTakenJustBeforeTheClone) {
  KEVRA_REQUIRE_SANDBOX();
  p_.declare_web_template();
  p_.fixture({"fault", "onetemplate", "clone", "--times", "1", "--name-taken-by", "oneadmin"});
  auto result = run("onetemplate", {"clone", "web", "bk1", "--recursive"});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "[one.template.clone] NAME is already taken by TEMPLATE 1.\n");
  EXPECT_EQ(run("onetemplate", {"show", "bk1"}).exit_status, 0);
  EXPECT_EQ(p_.fixture({"list", "images"}).find("bk1-disk"), std::string::npos);

  p_.fixture({"fault", "onetemplate", "clone", "--times", "1", "--name-taken-by", "alice"});
  result = run("onetemplate", {"clone", "web", "bk2", "--recursive"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "ID: 3\n");
  EXPECT_EQ(run("onetemplate", {"show", "bk2"}).err, "There are multiple VMTEMPLATEs with name bk2.\n");
}

}  // namespace
