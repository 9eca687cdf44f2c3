// Electronic signatures: the signature JSON, signature bytes and files, the
// checkers' command lines, and the verification's refusals before any file is
// written. The checks themselves run in the sandbox (tests/e2e/verify_*).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "modules/esign_commands.h"
#include "modules/hx_module_operations.h"
#include "tests/modules/module_test_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_test::read_file;

namespace fs = boost::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
namespace km = kelvomar::module;

const std::string kParse =
    "virtual bool HxModuleUniversal::parse_esign_json(const std::string&, std::string&, std::string&, std::string&)";
const std::string kVerify = "virtual bool HxModuleUniversal::verify_in_client_defined_storage()";
const std::string kWrite = "bool HxModuleUniversal::write_esign(const std::string&, const std::string&)";

// The arguments a shell command line hands to its program, one per line:
// the program path is replaced by printf.
std::vector<std::string> shell_arguments(std::string command, const std::string& program)
{
    EXPECT_EQ(command.compare(0, program.size(), program), 0) << command;
    command.replace(0, program.size(), "printf '%s\\0'");
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    ::pclose(pipe);
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\0', start)) != std::string::npos; start = end + 1) {
        arguments.push_back(output.substr(start, end - start));
    }
    return arguments;
}

// ---- Signature bytes --------------------------------------------------------------

TEST(EsignBytes, PairsOfHexDigits)
{
    const struct {
        std::string hex;
        std::string bytes;
    } cases[] = {
        {"", ""},
        {"0a1B", "\x0a\x1b"},
        {"ff00", std::string("\xff\x00", 2)},
        {"abc", "\xab"},            // a final single character is ignored
        {"zz12", "\x12"},           // an unreadable pair gives nothing
        {"1z", "\x01"},             // reading stops at a second character that is no digit
        {"0x", std::string(1, '\0')},
        {"-1+2 3", ""},             // signs and blanks are not digits
        {"DEADbeef", "\xde\xad\xbe\xef"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(km::esign_bytes(c.hex), c.bytes) << c.hex;
    }
}

class EsignFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-esign-%%%%%%%%");
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    module_test::TestModule module_;
    module_test::LogCapture log_;
};

TEST_F(EsignFiles, WritesTheBytesReplacingAnOlderFile)
{
    const std::string path = (root_ / "task_7.archive.sign").string();
    std::ofstream(path) << "an older and longer signature";
    ASSERT_TRUE(module_.write_esign("00ff10", path));
    EXPECT_EQ(read_file(path), std::string("\x00\xff\x10", 3));
}

TEST_F(EsignFiles, EmptyTextGivesAnEmptyFile)
{
    const std::string path = (root_ / "empty.sign").string();
    ASSERT_TRUE(module_.write_esign("", path));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(EsignFiles, FileThatCannotBeCreated)
{
    const std::string path = (root_ / "no such folder" / "x.sign").string();
    EXPECT_FALSE(module_.write_esign("00", path));
    EXPECT_THAT(log_.text(), HasSubstr(kWrite + ": can't create: " + path));
}

// ---- The signature JSON -------------------------------------------------------------

TEST(EsignJson, ReadsTheThreeMembers)
{
    const struct {
        std::string json;
        std::string name, archive, snapshot;
    } cases[] = {
        {R"({"archive_name":"local-directory@3@a.hxfd","archive_sign":"0a0b","snapshot_sign":"0c"})",
         "local-directory@3@a.hxfd", "0a0b", "0c"},
        {R"({"snapshot_sign":"0c","other":1,"archive_name":"n"})", "n", "", "0c"},
        {R"({"archive_sign":1234})", "", "1234", ""},                  // a number gives its digits
        {R"({"archive_name":"a\"b"})", R"(a\b)", "", ""},             // quotes removed, the escape stays
        {R"({"only":"others"})", "", "", ""},
        {R"({"archive_name":"x","archive_name":"y"})", "y", "", ""},  // the last one wins
    };
    for (const auto& c : cases) {
        module_test::LogCapture log;
        module_test::TestModule module;
        std::string name, archive, snapshot;
        ASSERT_TRUE(module.parse_esign_json(c.json, name, archive, snapshot)) << c.json << log.text();
        EXPECT_EQ(name, c.name) << c.json;
        EXPECT_EQ(archive, c.archive) << c.json;
        EXPECT_EQ(snapshot, c.snapshot) << c.json;
    }
}

TEST(EsignJson, RefusedTexts)
{
    const std::pair<std::string, std::string> cases[] = {
        {"{}", ": json object value is empty"},
        {R"(["archive_name"])", ": json value is not an object"},
        {R"("text")", ": json value is not an object"},
        {R"({"archive_name":"x",})", ": "},
        {R"({"archive_name":"x"} // comment)", ": "},
        {"", ": "},
    };
    for (const auto& c : cases) {
        module_test::LogCapture log;
        module_test::TestModule module;
        std::string name, archive, snapshot;
        EXPECT_FALSE(module.parse_esign_json(c.first, name, archive, snapshot)) << c.first;
        EXPECT_THAT(log.text(), HasSubstr(kParse + c.second)) << c.first;
    }
}

// ---- The checkers' command lines -------------------------------------------------------

TEST(EsignCommands, OrdinaryValuesGiveTheExactLines)
{
    EXPECT_EQ(km::engine_verify_command("/keys/pub.pem", "/opt/kelvomar/var/tasks/task_7.archive.sign",
                                        "/srv/store/web_full_1.hxfd"),
              "/opt/kelvomar/bin/hxfd -n '/srv/store/web_full_1.hxfd' -g '/opt/kelvomar/var/tasks/task_7.archive.sign'"
              " --verify --public-key '/keys/pub.pem'");
    EXPECT_EQ(km::openssl_verify_command("/keys/pub.pem", "sha256", "/opt/kelvomar/var/tasks/task_7.snapshot.sign",
                                         "/srv/store/web_full_1.snap"),
              "/usr/bin/openssl dgst -signature '/opt/kelvomar/var/tasks/task_7.snapshot.sign' -sha256 -verify "
              "'/keys/pub.pem' '/srv/store/web_full_1.snap'");
    EXPECT_EQ(km::archive_esign_path("7"), "/opt/kelvomar/var/tasks/task_7.archive.sign");
    EXPECT_EQ(km::snapshot_esign_path("7"), "/opt/kelvomar/var/tasks/task_7.snapshot.sign");
}

TEST(EsignCommands, EveryValueReachesTheToolAsOneArgument)
{
    const std::string hostile[] = {"it's a file", "a b\nc", "$(touch /tmp/x)", "`id`;rm x", "'", "", "\"q\"\\"};
    for (const std::string& value : hostile) {
        EXPECT_EQ(shell_arguments(km::engine_verify_command(value, value + ".sig", value + ".f"),
                                  "/opt/kelvomar/bin/hxfd"),
                  (std::vector<std::string>{"-n", value + ".f", "-g", value + ".sig", "--verify", "--public-key", value}))
            << value;
        EXPECT_EQ(shell_arguments(km::openssl_verify_command(value, "sha512", value + ".sig", "/d/" + value),
                                  "/usr/bin/openssl"),
                  (std::vector<std::string>{"dgst", "-signature", value + ".sig", "-sha512", "-verify", value,
                                            "/d/" + value}))
            << value;
    }
}

TEST(EsignCommands, FileThatLooksLikeAnOptionIsMadeRelative)
{
    EXPECT_EQ(shell_arguments(km::openssl_verify_command("k", "sha256", "s", "-out=x.meta"), "/usr/bin/openssl").back(),
              "./-out=x.meta");
}

TEST(EsignCommands, OnlyPlainHashNames)
{
    for (const char* name : {"sha256", "SHA512", "md5", "sha3-256", "blake2b512", "streebog256"}) {
        EXPECT_TRUE(km::is_plain_hash_name(name)) << name;
    }
    for (const char* name : {"", "sha256 -out /etc/x", "sha256;id", "sha_256", "sha256'", "$(id)", "sha256\n"}) {
        EXPECT_FALSE(km::is_plain_hash_name(name)) << name;
    }
}

TEST(EsignCheck, HashNameThatIsNoPlainNameFailsWithoutRunningAnything)
{
    module_test::LogCapture log;
    module_test::TestModule module;
    EXPECT_FALSE(module.check_filename_by_esing("/k.pem", "sha256 -out /tmp/x", "/s.sign", "/f.meta", true));
    EXPECT_THAT(log.text(), HasSubstr("hash name is not a plain name: sha256 -out /tmp/x"));
    EXPECT_THAT(log.text(), HasSubstr(": Verification of: '/f.meta': [ failed ]"));
    EXPECT_THAT(log.text(), Not(HasSubstr("openssl")));
}

// ---- Refusals of the verification ---------------------------------------------------------

TEST(EsignVerify, RefusedBeforeAnySignatureFileIsWritten)
{
    const struct {
        const char* name;
        std::string esign;
        std::string task_id;
        std::string logged;
    } cases[] = {
        {"NotJson", "{archive_name}", "7", kVerify + ": can't parse json: {archive_name}"},
        {"EmptyObject", "{}", "7", kVerify + ": can't parse json: {}"},
        {"DefaultStorage", R"({"archive_name":"default@1@x"})", "7",
         kVerify + ": unsupported client defined storage here: default@1@x"},
        {"S3Storage", R"({"archive_name":"s3@1@x"})", "7", kVerify + ": unsupported client defined storage here: s3@1@x"},
        {"NoArchiveName", R"({"archive_sign":"00"})", "7", kVerify + ": unsupported client defined storage here: "},
        {"TaskIdIsAPath", R"({"archive_name":"local-directory@1@x"})", "../../../tmp/t",
         kVerify + ": task id is not a plain name: ../../../tmp/t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        module_test::LogCapture log;
        module_test::TestModule module;
        module.opts().operation = op_verify_in_client_defined_storage;
        module.opts().esign = c.esign;
        module.opts().task_id = c.task_id;
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(module.verify_in_client_defined_storage());
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_THAT(out, Not(HasSubstr("VERIFICATION RESULT:")));
        EXPECT_THAT(log.text(), HasSubstr(c.logged));
        EXPECT_THAT(log.text(), Not(HasSubstr("Create e-sign")));
    }
}

TEST(EsignNeed, OnlyTheVerificationNeedsSignatures)
{
    module_test::TestModule module;
    for (int operation = op_none; operation <= op_verify_in_client_defined_storage; ++operation) {
        EXPECT_EQ(module.need_esign_for_operation(static_cast<HxModuleOperations>(operation)),
                  operation == op_verify_in_client_defined_storage)
            << operation;
    }
}

}  // namespace
