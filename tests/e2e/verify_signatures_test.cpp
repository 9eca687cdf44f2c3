// Verification of a backup in a client-defined local directory by the shipped
// program, in the sandbox: the engine stand-in checks the archive signature,
// the real openssl the snapshot or meta file's signature, made in the test
// with openssl. The outcome is the result line, the exit status stays 0; the
// stored backup is left as it was and the signature files are removed.
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/shell_quote.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/e2e/storage_e2e_support.h"

namespace {

namespace fs = boost::filesystem;
using kelvomar::shell_quote;
using storage_e2e::contains;

const char kTrusted[] = "VERIFICATION RESULT:Trusted\n";
const char kWrong[] = "VERIFICATION RESULT:Wrong status\n";
const char kArchiveEsign[] = "/opt/kelvomar/var/tasks/task_77.archive.sign";
const char kSnapshotEsign[] = "/opt/kelvomar/var/tasks/task_77.snapshot.sign";

std::string hex_of(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex.push_back(digits[(static_cast<unsigned char>(c) >> 4) & 0xf]);
        hex.push_back(digits[static_cast<unsigned char>(c) & 0xf]);
    }
    return hex;
}

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out + "\"";
}

// What the agent hands to one verification.
struct Request {
    std::string archive;        // the archive file in the storage
    std::string archive_name;   // as it travels: local-directory@id@archive
    std::string archive_sign;   // hexadecimal
    std::string snapshot_sign;  // hexadecimal
    std::string meta_file;      // the snapshot or meta file of the backup
    std::string hash = "sha256";
    std::string key;            // the public key
};

// What a case may use to change the good request.
struct Tools {
    std::string scratch;                                   // the test's scratch folder
    std::function<std::string(const std::string&)> sign;  // openssl signature of a file, hexadecimal
};

struct VerifyCase {
    const char* name;
    const char* store;  // the storage directory's name
    std::function<void(Request&, const Tools&)> change;
    int status;
    bool archive_ok;   // the engine's check passes
    bool snapshot_ok;  // openssl's check passes
};

void PrintTo(const VerifyCase& c, std::ostream* out)
{
    *out << c.name;
}

class VerifySignatures : public storage_e2e::StorageRun, public ::testing::WithParamInterface<VerifyCase> {
protected:
    void shell(const std::string& command)
    {
        const auto result = platform_.shell(command);
        ASSERT_EQ(result.exit_status, 0) << command << "\n" << result.out << result.err;
    }

    // A backup in a storage directory: archive, snapshot file holding the meta
    // file, the meta file beside it, and two key pairs.
    void make_backup(const std::string& store_name)
    {
        scratch_ = kevra_test::scratch_dir("verify");
        store_ = scratch_ + "/" + store_name;
        fs::create_directories(store_);
        const std::string snap_dir = scratch_ + "/snap_dir";
        fs::create_directories(snap_dir);
        kevra_test::write_file(snap_dir + "/web_full_1.meta", "engine meta of web_full_1\n");
        kevra_test::write_file(store_ + "/web_full_1.hxfd", "archive bytes of web_full_1\n");
        kevra_test::write_file(store_ + "/web_full_1.meta", "engine meta of web_full_1\n");
        shell("/bin/tar czf " + shell_quote(store_ + "/web_full_1.snap") + " -C " + shell_quote(snap_dir) + " .");
        for (const char* name : {"good", "other"}) {
            const std::string key = scratch_ + "/" + name;
            shell("/usr/bin/openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
                  shell_quote(key + ".pem"));
            shell("/usr/bin/openssl pkey -in " + shell_quote(key + ".pem") + " -pubout -out " +
                  shell_quote(key + ".pub"));
        }
    }

    // The signature of `file` by the key pair `name`, in hexadecimal.
    std::string sign(const std::string& file, const std::string& name = "good", const std::string& hash = "sha256")
    {
        const std::string signature = scratch_ + "/signature.bin";
        shell("/usr/bin/openssl dgst -" + hash + " -sign " + shell_quote(scratch_ + "/" + name + ".pem") + " -out " +
              shell_quote(signature) + " " + shell_quote(file));
        return hex_of(kevra_test::read_file(signature));
    }

    // The engine stand-in's signature of an archive: its SHA-256 digest.
    std::string engine_sign(const std::string& file)
    {
        const auto result = platform_.shell("/usr/bin/sha256sum " + shell_quote(file));
        return result.out.substr(0, 64);
    }

    Request good_request()
    {
        Request r;
        r.archive = store_ + "/web_full_1.hxfd";
        r.archive_name = "local-directory@3@" + r.archive;
        r.archive_sign = engine_sign(r.archive);
        r.meta_file = store_ + "/web_full_1.snap";
        r.snapshot_sign = sign(r.meta_file);
        r.key = scratch_ + "/good.pub";
        return r;
    }

    std::vector<std::string> verify_arguments(const Request& r)
    {
        const std::string esign = "{\"archive_name\":" + json_string(r.archive_name) +
                                  ",\"archive_sign\":" + json_string(r.archive_sign) +
                                  ",\"snapshot_sign\":" + json_string(r.snapshot_sign) + "}";
        return {"--verify_in_client_defined_storage", "-T", storage_e2e::kTask, "--esign", esign, "--sign_hash",
                r.hash, "-k", r.key, "-M", r.meta_file};
    }

    kevra_test::ProgramResult verify(const Request& r) { return run(verify_arguments(r)); }

    // No folder that a snapshot file was unpacked into is left in TMPDIR.
    static void expect_no_unpack_folder()
    {
        const char* tmp = std::getenv("TMPDIR");
        for (fs::directory_iterator it(tmp), end; it != end; ++it) {
            EXPECT_EQ(it->path().filename().string().find("kevra_template-"), std::string::npos) << it->path();
        }
    }

    Tools tools()
    {
        return Tools{scratch_, [this](const std::string& file) { return sign(file); }};
    }

    std::string scratch_;
    std::string store_;
};

const VerifyCase kCases[] = {
    {"GoodSignatures", "store", [](Request&, const Tools&) {}, 0, true, true},
    {"GoodSignaturesOfAMetaFile", "store",
     [](Request& r, const Tools& t) {
         r.meta_file = r.archive.substr(0, r.archive.size() - 5) + ".meta";
         r.snapshot_sign = t.sign(r.meta_file);
     },
     0, true, true},
    {"SnapshotSignatureWrong", "store",
     [](Request& r, const Tools&) { r.snapshot_sign[10] = r.snapshot_sign[10] == '0' ? '1' : '0'; }, 0, true, false},
    {"ArchiveSignatureWrong", "store", [](Request& r, const Tools&) { r.archive_sign = std::string(64, 'a'); }, 0,
     false, true},
    {"ArchiveSignatureEmpty", "store", [](Request& r, const Tools&) { r.archive_sign.clear(); }, 0, false, true},
    {"OddLastDigitIgnored", "store", [](Request& r, const Tools&) { r.archive_sign += "f"; }, 0, true, true},
    {"SnapshotSignedByAnotherKey", "store", [](Request& r, const Tools& t) { r.key = t.scratch + "/other.pub"; }, 0,
     true, false},
    {"OtherDigest", "store", [](Request& r, const Tools&) { r.hash = "sha512"; }, 0, true, false},
    {"HashNameWithAnOption", "store",
     [](Request& r, const Tools& t) { r.hash = "sha256 -out " + t.scratch + "/injected"; }, 0, true, false},
    {"HashNameWithACommand", "store",
     [](Request& r, const Tools& t) { r.hash = "sha256;touch " + t.scratch + "/injected;"; }, 0, true, false},
    {"StoreNameWithShellCharacters", "it's a store $(touch injected); `touch injected` x",
     [](Request&, const Tools&) {}, 0, true, true},
    {"SnapshotFileMissing", "store", [](Request& r, const Tools&) { r.meta_file = r.archive + ".missing.snap"; }, 2,
     false, false},
    {"DefaultStorageArchiveName", "store",
     [](Request& r, const Tools&) { r.archive_name = "default@1@" + r.archive; }, 12, false, false},
};

TEST_P(VerifySignatures, ResultLineAndTheStoredBackupKept)
{
    KEVRA_REQUIRE_SANDBOX();
    install_secret();
    ASSERT_NO_FATAL_FAILURE(make_backup(GetParam().store));
    Request request = good_request();
    GetParam().change(request, tools());
    const std::string archive_before = kevra_test::read_file(request.archive);
    const std::string snapshot_before = kevra_test::read_file(store_ + "/web_full_1.snap");
    const std::vector<std::string> store_before = {"web_full_1.hxfd", "web_full_1.meta", "web_full_1.snap"};
    platform_.fixture({"calls", "all", "--clear"});

    const auto result = verify(request);

    EXPECT_EQ(result.exit_status, GetParam().status) << log();
    const bool has_trusted = contains(result.out, kTrusted);
    const bool has_wrong = contains(result.out, kWrong);
    if (GetParam().status != 0) {
        EXPECT_FALSE(has_trusted || has_wrong) << result.out;
    } else if (GetParam().archive_ok && GetParam().snapshot_ok) {
        EXPECT_TRUE(has_trusted && !has_wrong) << result.out << log();
    } else {
        EXPECT_TRUE(has_wrong && !has_trusted) << result.out << log();
    }
    // The backup's files stay as they were; the signature files and any
    // unpacked copy of the snapshot are gone.
    for (const std::string& name : store_before) {
        EXPECT_TRUE(fs::exists(store_ + "/" + name)) << name;
    }
    EXPECT_EQ(kevra_test::read_file(request.archive), archive_before);
    EXPECT_EQ(kevra_test::read_file(store_ + "/web_full_1.snap"), snapshot_before);
    EXPECT_FALSE(fs::exists(kArchiveEsign));
    EXPECT_FALSE(fs::exists(kSnapshotEsign));
    EXPECT_FALSE(fs::exists(scratch_ + "/injected"));
    EXPECT_FALSE(fs::exists("injected"));
    expect_no_unpack_folder();
}

INSTANTIATE_TEST_SUITE_P(Cases, VerifySignatures, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The cases in which both checks run.
std::vector<VerifyCase> checked_cases()
{
    std::vector<VerifyCase> cases;
    for (const VerifyCase& c : kCases) {
        if (c.status == 0) {
            cases.push_back(c);
        }
    }
    return cases;
}

using VerifyChecks = VerifySignatures;

// Each check gets every value as one argument: the engine stand-in logs the
// arguments it was given, quoted where needed; the log tells each check's verdict.
TEST_P(VerifyChecks, ReceiveTheValuesAsGiven)
{
    KEVRA_REQUIRE_SANDBOX();
    install_secret();
    ASSERT_NO_FATAL_FAILURE(make_backup(GetParam().store));
    Request request = good_request();
    GetParam().change(request, tools());
    platform_.fixture({"calls", "hxfd", "--clear"});

    ASSERT_EQ(verify(request).exit_status, 0) << log();
    const std::vector<std::string> calls = platform_.calls("hxfd");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "/opt/kelvomar/bin/hxfd -n " + shell_quote(request.archive) + " -g " +
                            std::string(kArchiveEsign) + " --verify --public-key " + shell_quote(request.key));
    const auto verdict = [](bool ok) { return ok ? std::string("': [ ok ]") : std::string("': [ failed ]"); };
    EXPECT_TRUE(contains(log(), "Verification of: '" + request.archive + verdict(GetParam().archive_ok))) << log();
    EXPECT_TRUE(contains(log(), "Verification of: '" + request.meta_file + verdict(GetParam().snapshot_ok)))
        << log();
}

INSTANTIATE_TEST_SUITE_P(Cases, VerifyChecks, ::testing::ValuesIn(checked_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

class VerifyTermination : public VerifySignatures {};

// A verification ended by a termination signal while the engine checks the
// archive: exit 17; the signature files and the folder the snapshot file was
// unpacked into are gone, the stored backup stays.
TEST_F(VerifyTermination, RemovesItsFilesAndKeepsTheBackup)
{
    KEVRA_REQUIRE_SANDBOX();
    install_secret();
    ASSERT_NO_FATAL_FAILURE(make_backup("store"));
    const Request request = good_request();
    const std::string snapshot_before = kevra_test::read_file(request.meta_file);
    platform_.fixture({"fault", "hxfd", "verify", "--delay", "30"});

    std::vector<std::string> argv = verify_arguments(request);
    argv.insert(argv.begin(), kevra_test::build_path("kevra_template"));
    lock_signal_test::Role run(argv, {});
    ASSERT_TRUE(lock_signal_test::wait_until([] { return fs::exists(kArchiveEsign); }, 20)) << log();
    const std::string events = std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/hxfd.events";
    ASSERT_TRUE(lock_signal_test::wait_until(
        [&] { return contains(kevra_test::read_file(events), " started verify"); }, 20))
        << kevra_test::read_file(events);
    ::kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(20), 17) << run.out() << run.err();
    EXPECT_TRUE(contains(log(), "Module was terminated. PID: " + std::to_string(run.pid()))) << log();
    EXPECT_FALSE(fs::exists(kArchiveEsign));
    EXPECT_FALSE(fs::exists(kSnapshotEsign));
    expect_no_unpack_folder();
    EXPECT_EQ(kevra_test::read_file(request.meta_file), snapshot_before);
    EXPECT_TRUE(fs::exists(request.archive));
}

}  // namespace
