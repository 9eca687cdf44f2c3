// The task's encrypted client-defined-storage file: its cipher, and loading
// it with the task secret into storage records. Files are made in the test
// with the module's own cipher, in a scratch folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/kuznyechik.h"
#include "modules/client_defined_storage_file.h"
#include "tests/e2e/storage_samples.h"
#include "tests/modules/module_test_support.h"
#include "tests/support/path_files.h"

namespace {

using kevra_test::write_file;

namespace fs = boost::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using kelvomar::module::client_defined_storage_cipher;
using Storage = HxModuleUniversal::ClientDefinedStorageInfo;

const std::string kLoad = "bool HxModuleUniversal::load_client_defined_storages()";
const std::string kSecret = "task-secret-0123";
const std::string kLocal = R"({"id":12,"method":{"local-directory":"/srv/backups"}})";
const std::string kDefault = R"({"id":7,"method":{}})";

std::string unhex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// ---- The cipher ------------------------------------------------------------------

TEST(StorageFileCipher, KeystreamIsKuznyechikOverTheTwoByteCounterBlock)
{
    // Two and a half blocks of zero bytes give the keystream itself: blocks of
    // the counter (c0, c1, 0, ..., 0), (c0, c1, 0, ..., 1), (c0, c1, 0, ..., 2).
    const std::string secret = "0123456789abcdef0123456789abcdef";
    const std::string keystream = client_defined_storage_cipher(secret, std::string(40, '\0'));
    ASSERT_EQ(keystream.size(), 40u);

    hxcrypto::kuznyechik cipher;
    cipher.init(reinterpret_cast<const unsigned char*>(secret.data()), hxcrypto::block_cipher::encryption);
    for (unsigned block = 0; block < 3; ++block) {
        unsigned char counter[16] = {};
        counter[0] = static_cast<unsigned char>(kelvomar::kCounterConstant[0]);
        counter[1] = static_cast<unsigned char>(kelvomar::kCounterConstant[1]);
        counter[15] = static_cast<unsigned char>(block);
        unsigned char expected[16];
        cipher.encrypt_block(counter, expected);
        const std::size_t length = block < 2 ? 16 : 8;
        EXPECT_EQ(keystream.substr(block * 16, length), std::string(reinterpret_cast<char*>(expected), length))
            << "keystream block " << block;
    }
}

TEST(StorageFileCipher, KeyIsTheSecretCutOrFilledToThirtyTwoBytes)
{
    const std::string text = "{\"id\":1,\"method\":{}}\n";
    const std::string long_secret = "0123456789abcdef0123456789abcdefEXTRA";
    EXPECT_EQ(client_defined_storage_cipher(long_secret, text),
              client_defined_storage_cipher(long_secret.substr(0, 32), text));
    EXPECT_EQ(client_defined_storage_cipher("ab", text), client_defined_storage_cipher("ab" + std::string(30, '\0'), text));
    EXPECT_NE(client_defined_storage_cipher("ab", text), client_defined_storage_cipher("ac", text));
}

TEST(StorageFileCipher, DecryptsWhatItEncryptsAtEveryLength)
{
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 33u, 1000u}) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
            text.push_back(static_cast<char>(i * 7 + 3));
        }
        const std::string ciphertext = client_defined_storage_cipher(kSecret, text);
        EXPECT_EQ(ciphertext.size(), length);
        if (length > 0) {
            EXPECT_NE(ciphertext, text);
        }
        EXPECT_EQ(client_defined_storage_cipher(kSecret, ciphertext), text) << length;
    }
}

// The encrypted files of the end-to-end runs are this cipher's output.
TEST(StorageFileCipher, EndToEndSamplesMatchTheCipher)
{
    for (const storage_samples::Sample* sample : storage_samples::kAll) {
        EXPECT_EQ(client_defined_storage_cipher(sample->secret, sample->plaintext), unhex(sample->ciphertext))
            << sample->name;
    }
}

// ---- Loading -----------------------------------------------------------------------

class StorageFileLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-storage-file-%%%%%%%%");
        fs::create_directories(root_);
        secret_ = (root_ / "task_secret_77").string();
        storage_ = (root_ / "77.client_defined_storages").string();
    }
    void TearDown() override { fs::remove_all(root_); }

    void secret(const std::string& content) { write_file(secret_, content); }
    void storage_plaintext(const std::string& plaintext, const std::string& key = kSecret)
    {
        write_file(storage_, client_defined_storage_cipher(key, plaintext));
    }
    bool load() { return kelvomar::module::load_client_defined_storage_file(secret_, storage_, storages_); }

    fs::path root_;
    std::string secret_;
    std::string storage_;
    std::vector<Storage> storages_;
    module_test::LogCapture log_;
};

TEST_F(StorageFileLoad, RecordsInFileOrderSkippingEmptyLines)
{
    secret(kSecret + "\n");
    const std::string plaintext = "\n" + kLocal + "\n\n" + kDefault + "\n";
    storage_plaintext(plaintext);
    ASSERT_TRUE(load()) << log_.text();
    ASSERT_EQ(storages_.size(), 2u);
    EXPECT_EQ(storages_[0].type, 1);
    EXPECT_EQ(storages_[0].id, 12);
    EXPECT_EQ(storages_[0].value, "/srv/backups");
    EXPECT_EQ(storages_[1].type, 3);
    EXPECT_EQ(storages_[1].id, 7);
    EXPECT_THAT(log_.text(), HasSubstr("Found the file of methods: " + storage_ + ", size: " +
                                       std::to_string(plaintext.size())));
    EXPECT_THAT(log_.text(), HasSubstr("CLient defined methods of access to the storage: 2"));
    EXPECT_THAT(log_.text(), Not(HasSubstr("Error")));
}

TEST_F(StorageFileLoad, BadLinesSkippedOthersKept)
{
    secret(kSecret);
    storage_plaintext("{\"id\":1,\"method\":{}\n" +                                   // malformed
                      kLocal + "\n" +                                              //
                      R"({"id":2,"method":{},"x":)" + std::string(40, '[') + std::string(40, ']') + "}\n" +  // too deep
                      R"({"id":1.0,"method":{}})" + "\n" +                         // id not an integer
                      kDefault);
    ASSERT_TRUE(load());
    ASSERT_EQ(storages_.size(), 2u);
    EXPECT_EQ(storages_[0].id, 12);
    EXPECT_EQ(storages_[1].id, 7);
    EXPECT_THAT(log_.text(), HasSubstr(": boost::json: "));
    EXPECT_THAT(log_.text(), HasSubstr(": id is not a number: "));
}

TEST_F(StorageFileLoad, PlaintextEndsAtItsFirstNul)
{
    secret(kSecret);
    storage_plaintext(kDefault + "\n" + std::string(1, '\0') + kLocal + "\n");
    ASSERT_TRUE(load());
    ASSERT_EQ(storages_.size(), 1u);
    EXPECT_EQ(storages_[0].type, 3);
}

TEST_F(StorageFileLoad, KeyIsTheSecretsFirstLineCutToThirtyTwoBytes)
{
    const std::string line = "0123456789abcdef0123456789abcdef-and-more";
    secret(line + "\nsecond line\n");
    storage_plaintext(kDefault, line.substr(0, 32));
    ASSERT_TRUE(load()) << log_.text();
    EXPECT_EQ(storages_.size(), 1u);
}

TEST_F(StorageFileLoad, WrongKeyGivesNoStorageButSucceeds)
{
    secret(kSecret);
    storage_plaintext(kLocal + "\n" + kDefault + "\n", "another secret");
    EXPECT_TRUE(load());
    EXPECT_TRUE(storages_.empty());
    EXPECT_THAT(log_.text(), HasSubstr("0 methods of access to client defined storage loaded"));
}

// Secret and storage files present, missing, empty or unreadable (a folder in
// their place, which even root cannot read as a file).
struct FileCase {
    const char* name;
    enum Kind { missing, empty, folder, valid } secret, storage;
    bool result;
    std::string logged;  // after the signature
};

TEST_F(StorageFileLoad, MissingEmptyAndUnreadableFiles)
{
    const FileCase cases[] = {
        {"NoSecretNoStorage", FileCase::missing, FileCase::missing, false, ": task secret file doesn't exist: "},
        {"NoSecretWithStorage", FileCase::missing, FileCase::valid, false, ": task secret file doesn't exist: "},
        {"EmptySecret", FileCase::empty, FileCase::valid, true, ": task secret is empty"},
        {"UnreadableSecret", FileCase::folder, FileCase::valid, true, ": task secret is empty"},
        {"NoStorage", FileCase::valid, FileCase::missing, true, ""},
        {"EmptyStorage", FileCase::valid, FileCase::empty, true, ""},
        {"UnreadableStorage", FileCase::valid, FileCase::folder, false, ": "},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(secret_);
        fs::remove_all(storage_);
        storages_.clear();
        log_.clear();
        const auto make = [](FileCase::Kind kind, const std::string& path, const std::string& content) {
            if (kind == FileCase::empty) {
                write_file(path, "");
            } else if (kind == FileCase::folder) {
                fs::create_directories(path);
            } else if (kind == FileCase::valid) {
                write_file(path, content);
            }
        };
        make(c.secret, secret_, kSecret + "\n");
        make(c.storage, storage_, client_defined_storage_cipher(kSecret, kDefault));

        EXPECT_EQ(load(), c.result) << log_.text();
        EXPECT_TRUE(storages_.empty());
        if (c.logged.empty()) {
            EXPECT_THAT(log_.text(), Not(HasSubstr("Error")));
        } else {
            EXPECT_THAT(log_.text(), HasSubstr(kLoad + c.logged));
        }
        if (c.secret == FileCase::missing) {
            EXPECT_THAT(log_.text(), HasSubstr(secret_));
        }
    }
}

// Runs `check` in a child process as an ordinary user (root reads any file);
// returns its result: 0 passed, 1 failed, 77 the user cannot reach the files.
int as_ordinary_user(const std::string& folder, const std::function<bool()>& check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(77);
        }
        if (::access(folder.c_str(), R_OK | X_OK) != 0) {
            ::_exit(77);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// A secret or storage file that cannot be opened leaves the task without
// storages; the run goes on.
TEST_F(StorageFileLoad, FilesThatCannotBeOpened)
{
    ::chmod(root_.c_str(), 0755);
    const struct {
        const char* name;
        std::string* locked;  // the file made unreadable
        std::string logged;
    } cases[] = {
        {"Secret", &secret_, kLoad + ": can't open task secret file: " + secret_},
        {"Storage", &storage_, kLoad + ": can't open: " + storage_},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        secret(kSecret);
        storage_plaintext(kDefault);
        ::chmod(secret_.c_str(), 0644);
        ::chmod(storage_.c_str(), 0644);
        ::chmod(c.locked->c_str(), 0);
        const int result = as_ordinary_user(root_.string(), [&] {
            log_.clear();
            const bool loaded = load();
            return loaded && storages_.empty() && log_.text().find(c.logged) != std::string::npos;
        });
        if (result == 77) {
            GTEST_SKIP() << "no ordinary user can reach " << root_;
        }
        EXPECT_EQ(result, 0);
    }
}

// The file is read whole with a signed 32-bit count: a larger one is refused
// before anything is read (the sparse file costs no space).
TEST_F(StorageFileLoad, FileAboveTheSigned32BitCountRefused)
{
    secret(kSecret);
    write_file(storage_, "");
    fs::resize_file(storage_, 0x80000000ull);
    EXPECT_FALSE(load());
    EXPECT_THAT(log_.text(), HasSubstr(kLoad + ": file is too large: " + storage_));
}

// ---- The module member ----------------------------------------------------------------

TEST(StorageFileModule, WithoutTaskIdNothingIsRead)
{
    module_test::LogCapture log;
    module_test::TestModule module;
    EXPECT_TRUE(module.load_client_defined_storages());
    // Debug records are written with runs of blanks folded into one.
    EXPECT_THAT(log.text(), HasSubstr("No task id - client defined storages loading skipped"));
    EXPECT_THAT(log.text(), Not(HasSubstr("Check method of access")));
}

TEST(StorageFileModule, PathOfTheTasksStorageFile)
{
    EXPECT_EQ(kelvomar::module::client_defined_storage_file_path("77"),
              "/opt/kelvomar/var/tasks/77.client_defined_storages");
}

}  // namespace
