#include "tests/e2e/backup_e2e_support.h"

#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/support/sandbox_guard.h"

namespace fs = boost::filesystem;

namespace kevra_e2e {

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

void TemplateBackupTest::SetUp()
{
    KEVRA_REQUIRE_SANDBOX();
    // /etc/os-release may be a link into /usr/lib, which the sandbox does not
    // overlay: a file of its own in the /etc overlay keeps every change of it
    // inside this sandbox.
    if (fs::is_symlink("/etc/os-release")) {
        const std::string release = kevra_test::read_file("/etc/os-release");
        fs::remove("/etc/os-release");
        kevra_test::write_file("/etc/os-release", release);
    }
    platform_.fixture({"reset"});
    fs::remove_all("/opt/kelvomar/log");
    fs::create_directories("/opt/kelvomar/log");
    platform_.fixture({"task-secret", kTask});
    op_dir_ = kevra_test::scratch_dir("op");
    fs::remove_all(op_dir_);
    fs::create_directories(op_dir_);
}

std::string TemplateBackupTest::files_datastore()
{
    if (files_ds_.empty()) {
        files_ds_ = platform_.datastore({"--name", "files"});
    }
    return files_ds_;
}

FourImageTemplate TemplateBackupTest::declare_four_image_template(const std::string& name)
{
    const std::string files = files_datastore();
    const std::string block = platform_.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    const std::string ceph = platform_.datastore({"--name", "ceph", "--tm-mad", "ceph"});
    FourImageTemplate tpl;
    tpl.name = name;
    struct Image {
        std::string name, datastore, prefix, type, content;
    };
    const std::vector<Image> images = {
        {name + "-os", files, "vd", "OS", "operating system bytes\n"},
        {name + "-data", files, "vd", "DATABLOCK", std::string("data\0with\0zeros", 15)},
        {name + "-block", block, "sd", "DATABLOCK", "logical volume bytes"},
        {name + "-ceph", ceph, "vd", "OS", "ceph image bytes"},
    };
    std::vector<std::string> template_args = {"--name", name};
    for (const Image& image : images) {
        const std::string content_file = kevra_test::scratch_dir("content") + "/" + image.name;
        kevra_test::write_file(content_file, image.content);
        const std::string id = platform_.image({"--name", image.name, "--datastore", image.datastore, "--prefix",
                                                image.prefix, "--type", image.type, "--content-file", content_file});
        tpl.image_ids.push_back(id);
        tpl.image_names.push_back(image.name);
        template_args.push_back("--disk");
        template_args.push_back("IMAGE_ID=" + id);
    }
    platform_.vm_template(template_args);
    return tpl;
}

kevra_test::ProgramResult TemplateBackupTest::run_module(const std::vector<std::string>& args,
                                                         const kevra_test::ProgramLimits& limits) const
{
    std::vector<std::string> argv = {kevra_test::build_path("kevra_template")};
    argv.insert(argv.end(), args.begin(), args.end());
    return kevra_test::run_program(argv, limits);
}

kevra_test::ProgramResult TemplateBackupTest::backup(const std::string& tpl, const std::string& archive,
                                                     const std::vector<std::string>& extra,
                                                     const std::string& type) const
{
    std::vector<std::string> args = {type, "-b", tpl, "-d", op_dir_, "-n", archive, "-m", kServer, "-T", kTask};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_module(args);
}

std::string TemplateBackupTest::log() const
{
    return kevra_test::read_file("/opt/kelvomar/log/kevra_template.log");
}

std::string state_of(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return path + ": missing\n";
    }
    std::string text = path + " " + std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
                       std::to_string(status.st_mode) + "\n";
    if (S_ISREG(status.st_mode)) {
        text += kevra_test::read_file(path) + "\n";
    } else if (S_ISDIR(status.st_mode)) {
        std::vector<std::string> names;
        for (fs::directory_iterator it(path), end; it != end; ++it) {
            names.push_back(it->path().string());
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            text += state_of(name);
        }
    }
    return text;
}

namespace {

std::string store_path(const std::string& archive)
{
    return std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/hxfd-store/" + archive + ".hxfd";
}

std::vector<std::string> sorted_lines(const std::string& text, const std::string& strip_prefix)
{
    std::vector<std::string> names;
    for (std::string line : lines_of(text)) {
        if (line.compare(0, strip_prefix.size(), strip_prefix) == 0) {
            line.erase(0, strip_prefix.size());
        }
        if (!line.empty()) {
            names.push_back(line);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::string> TemplateBackupTest::store_entries(const std::string& archive) const
{
    std::vector<std::string> names;
    for (const std::string& line : lines_of(platform_.fixture({"archive-files", archive}))) {
        names.push_back(line.substr(0, line.find('\t')));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TemplateBackupTest::store_entry(const std::string& archive, const std::string& entry) const
{
    const auto result = kevra_test::run_program({"/bin/tar", "-xOf", store_path(archive), entry});
    EXPECT_EQ(result.exit_status, 0) << "no entry " << entry << " in " << archive << ": " << result.err;
    return result.out;
}

std::vector<std::string> TemplateBackupTest::snapshot_members(const std::string& archive) const
{
    const auto result = kevra_test::run_program({"/bin/tar", "-tzf", op_dir_ + "/" + archive + ".snap"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> names = sorted_lines(result.out, "./");
    names.erase(std::remove(names.begin(), names.end(), "./"), names.end());
    return names;
}

std::string TemplateBackupTest::snapshot_member(const std::string& archive, const std::string& member) const
{
    const auto result =
        kevra_test::run_program({"/bin/tar", "-xzOf", op_dir_ + "/" + archive + ".snap", "./" + member});
    EXPECT_EQ(result.exit_status, 0) << "no member " << member << ": " << result.err;
    return result.out;
}

std::vector<std::string> TemplateBackupTest::platform_names(const std::string& kind) const
{
    std::vector<std::string> names;
    for (const std::string& line : lines_of(platform_.fixture({"list", kind}))) {
        const auto first = line.find('\t');
        const auto second = line.find('\t', first + 1);
        names.push_back(line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TemplateBackupTest::image_data(const std::string& image) const
{
    return kevra_test::read_file(platform_.image_field(image, "data-path"));
}

void TemplateBackupTest::expect_nothing_left(const std::string& archive) const
{
    for (const std::string& name : platform_names("templates")) {
        EXPECT_NE(name, archive) << "the clone template is still there";
    }
    for (const std::string& name : platform_names("images")) {
        EXPECT_NE(name.compare(0, archive.size() + 1, archive + "-"), 0) << "a clone image is still there: " << name;
    }
    EXPECT_FALSE(fs::exists(op_dir_ + "/" + archive)) << "the staging directory is still there";
    EXPECT_FALSE(fs::exists(op_dir_ + "/" + archive + ".hxfd.list")) << "the engine file list is still there";
}

}  // namespace kevra_e2e
