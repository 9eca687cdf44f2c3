// Terminal input through a pseudo-terminal: standard input is its slave side,
// the test types on the master side and reads there what the terminal echoes.

#include "common/login_name.h"
#include "common/terminal_input.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

using namespace hx_utils_common;

class Terminal : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(slave_, &t), 0);
        t.c_lflag |= ECHO | ICANON;
        ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &t), 0);
        saved_stdin_ = ::dup(STDIN_FILENO);
        ASSERT_EQ(::dup2(slave_, STDIN_FILENO), STDIN_FILENO);
        fresh_input();
        // A read that waits for ever ends the test program instead of the CI run.
        ::alarm(30);
    }
    void TearDown() override
    {
        ::alarm(0);
        ::dup2(saved_stdin_, STDIN_FILENO);
        ::close(saved_stdin_);
        fresh_input();
        ::close(slave_);
        ::close(master_);
    }

    static void fresh_input()
    {
        __fpurge(stdin);
        std::clearerr(stdin);
        std::cin.clear();
    }

    tcflag_t local_flags() const
    {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t.c_lflag;
    }

    // Waits until the slave's local flags lack all of `flags` (another thread
    // changes them), so that typing starts only under the new settings.
    bool wait_until_off(tcflag_t flags) const
    {
        for (int i = 0; i < 5000; ++i) {
            if ((local_flags() & flags) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void type(const std::string& keys) const
    {
        ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // What the terminal has sent back (its echo) within a short time.
    std::string screen() const
    {
        std::string seen;
        char buffer[256];
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, 100) > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            seen.append(buffer, static_cast<std::size_t>(n));
        }
        return seen;
    }

    int master_ = -1;
    int slave_ = -1;
    int saved_stdin_ = -1;
};

TEST_F(Terminal, EchoOffAndOnAgain)
{
    termios saved{};
    echo_off(slave_, &saved);
    EXPECT_EQ(local_flags() & ECHO, 0u);
    EXPECT_NE(saved.c_lflag & ECHO, 0u) << "the saved settings are those from before";
    EXPECT_NE(local_flags() & ICANON, 0u) << "only echo is switched off";
    type("hidden\n");
    EXPECT_EQ(screen().find("hidden"), std::string::npos);

    echo_on(slave_, &saved);
    EXPECT_NE(local_flags() & ECHO, 0u);
    type("shown\n");
    EXPECT_NE(screen().find("shown"), std::string::npos);
}

TEST_F(Terminal, GetkeyTakesOneKeyWithoutEnterOrEcho)
{
    int key = 0;
    std::thread reader([&key] { key = getkey(); });
    const bool raw = wait_until_off(ICANON | ECHO);
    if (raw) {
        type("k");
    }
    reader.join();
    ASSERT_TRUE(raw) << "canonical input and echo stayed on";
    EXPECT_EQ(key, 'k');
    EXPECT_EQ(screen(), "") << "the key was echoed";
    EXPECT_EQ(local_flags() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO)) << "settings not restored";
}

TEST_F(Terminal, SecretLineWithoutEchoThenANewline)
{
    std::string secret = "old";
    testing::internal::CaptureStdout();
    std::thread reader([&secret] { get_client_secret_input(secret); });
    const bool quiet = wait_until_off(ECHO);
    if (quiet) {
        type("s3cret pass\n");
    }
    reader.join();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(quiet) << "echo stayed on";
    EXPECT_EQ(secret, "s3cret pass");
    EXPECT_EQ(out, "\n");
    EXPECT_EQ(screen().find("s3cret"), std::string::npos) << "the secret was echoed";
    EXPECT_NE(local_flags() & ECHO, 0u) << "echo not restored";
}

// End of input (Ctrl-D) makes a throwing std::cin throw out of the read: echo
// must be on again all the same.
TEST_F(Terminal, EchoComesBackWhenTheReadThrows)
{
    std::string secret;
    std::cin.exceptions(std::ios::failbit);
    bool thrown = false;
    std::thread reader([&] {
        try {
            get_client_secret_input(secret);
        } catch (const std::ios::failure&) {
            thrown = true;
        }
    });
    const bool quiet = wait_until_off(ECHO);
    if (quiet) {
        type("\x04");
    }
    reader.join();
    std::cin.exceptions(std::ios::goodbit);
    ASSERT_TRUE(quiet) << "echo stayed on";
    EXPECT_TRUE(thrown);
    EXPECT_NE(local_flags() & ECHO, 0u) << "echo not restored";
}

// Without a terminal the same functions read as usual and change nothing.
TEST(TerminalAbsent, PipesReadAsUsual)
{
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    termios saved;
    std::memset(&saved, 0x5a, sizeof saved);
    termios untouched = saved;
    echo_off(pipe_fds[0], &saved);
    EXPECT_EQ(std::memcmp(&saved, &untouched, sizeof saved), 0) << "settings of no terminal were stored";
    echo_on(pipe_fds[0], &saved);  // nothing to restore; must not fail

    const int saved_stdin = ::dup(STDIN_FILENO);
    ASSERT_EQ(::dup2(pipe_fds[0], STDIN_FILENO), STDIN_FILENO);
    ::close(pipe_fds[0]);
    __fpurge(stdin);
    const std::string input = "zline one\nline two\n";
    ASSERT_EQ(::write(pipe_fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(pipe_fds[1]);

    EXPECT_EQ(getkey(), 'z');
    std::string secret;
    testing::internal::CaptureStdout();
    get_client_secret_input(secret);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
    EXPECT_EQ(secret, "line one");
    get_client_secret_input(secret);
    EXPECT_EQ(secret, "line two");
    EXPECT_EQ(getkey(), EOF);

    ::dup2(saved_stdin, STDIN_FILENO);
    ::close(saved_stdin);
    __fpurge(stdin);
    std::clearerr(stdin);
    std::cin.clear();
}

TEST(LoginName, SessionLoginOrEffectiveUser)
{
    const std::string name = get_loginname();
    ASSERT_FALSE(name.empty());
    const char* login = ::getlogin();
    const passwd* user = ::getpwuid(::geteuid());
    const std::string expected = (login && *login) ? std::string(login) : (user ? std::string(user->pw_name) : "");
    EXPECT_EQ(name, expected);
}

}  // namespace
