// The string cipher's key belongs to the host: it follows /etc/machine-id and
// the node name, and a cipher text does not come back on another host.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "crypto/builtin_constants.h"
#include "crypto/string_cipher.h"
#include "tests/support/sandbox_guard.h"
#include "tests/support/string_cipher_calls.h"

namespace {

using hx_utils_common::server::hardware_id;
using kevra_test::decrypted;
using kevra_test::encrypted;

const char kMachineId[] = "/etc/machine-id";

void write_machine_id(const std::string& content)
{
    std::ofstream(kMachineId, std::ios::binary | std::ios::trunc) << content;
}

std::string system_name()
{
    struct utsname names {};
    ::uname(&names);
    return names.sysname;
}

// The identifier as the openssl tool computes it: HMAC-SHA256 of `joined`
// under the built-in key, in hexadecimal, first byte first.
std::string openssl_identifier(const std::string& joined)
{
    const std::string key(kelvomar::kKeyedHashKey, sizeof(kelvomar::kKeyedHashKey) - 1);
    std::string out;
    const int status = hx_utils_common::execute_command(
        "printf '%s' " + kelvomar::shell_quote(joined, kelvomar::quote_style::always) +
            " | /usr/bin/openssl dgst -sha256 -hmac " + kelvomar::shell_quote(key),
        out);
    EXPECT_EQ(status, 0) << out;
    const std::string::size_type at = out.find("= ");
    return at == std::string::npos ? out : out.substr(at + 2, 64);
}

TEST(StringCipherHost, IdentifierTakesTheFirstLineOfTheMachineId)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string node = hx_utils_common::get_nodename();
    struct Case {
        const char* what;
        bool present;
        std::string content;
        std::string first_line;
    };
    const Case cases[] = {
        {"with its line end", true, "0123456789abcdef0123456789abcdef\n", "0123456789abcdef0123456789abcdef"},
        {"without a line end", true, "0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        {"a second line", true, "first\nsecond\n", "first"},
        {"empty", true, "", ""},
        {"missing", false, "", ""},
    };
    for (const Case& c : cases) {
        if (c.present) {
            write_machine_id(c.content);
        } else {
            std::remove(kMachineId);
        }
        EXPECT_EQ(hardware_id(), openssl_identifier(node + c.first_line + system_name())) << c.what;
    }
}

TEST(StringCipherHost, AnotherMachineIdGivesAnotherKey)
{
    KEVRA_REQUIRE_SANDBOX();
    write_machine_id("11111111111111111111111111111111\n");
    const std::string first = hardware_id();
    const std::string cipher = encrypted("backup secret");
    ASSERT_EQ(decrypted(cipher), "backup secret");

    write_machine_id("22222222222222222222222222222222\n");
    EXPECT_NE(hardware_id(), first);
    EXPECT_NE(decrypted(cipher), "backup secret");
    EXPECT_NE(encrypted("backup secret"), cipher);

    std::remove(kMachineId);
    EXPECT_NE(hardware_id(), first);
    EXPECT_NE(decrypted(cipher), "backup secret");

    write_machine_id("11111111111111111111111111111111\n");
    EXPECT_EQ(hardware_id(), first);
    EXPECT_EQ(decrypted(cipher), "backup secret");
}

// A child process with a node name of its own (a private UTS namespace) stands
// for another host with the same machine id.
TEST(StringCipherHost, AnotherNodeNameGivesAnotherKey)
{
    KEVRA_REQUIRE_SANDBOX();
    write_machine_id("33333333333333333333333333333333\n");
    const std::string here = hardware_id();
    const std::string cipher = encrypted("backup secret");

    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        const std::string other = "kevra-other-node";
        if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname(other.data(), other.size()) != 0) {
            ::_exit(2);
        }
        const std::string report = hardware_id() + "\n" + decrypted(cipher);
        const ssize_t written = ::write(pipe_fds[1], report.data(), report.size());
        ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
    }
    ::close(pipe_fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not take another node name";

    const std::string other_id = report.substr(0, report.find('\n'));
    const std::string other_text = report.substr(report.find('\n') + 1);
    EXPECT_NE(other_id, here);
    EXPECT_EQ(other_id, openssl_identifier("kevra-other-node33333333333333333333333333333333" + system_name()));
    EXPECT_NE(other_text, "backup secret");
    EXPECT_EQ(decrypted(cipher), "backup secret") << "this host still reads it";
}

}  // namespace
