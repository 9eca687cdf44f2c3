#pragma once
// Template restores and replica applications in the sandbox: a backup (or a
// replica) made by the real program, its snapshot file kept aside, then the
// restore run with the agent's command line, and what it left behind read back
// from the platform, the safe directory and the operation directory.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"
#include "tests/support/run_program.h"

namespace kevra_e2e {

class TemplateRestoreTest : public TemplateBackupTest {
protected:
    static constexpr const char* kRecord = "42";

    void SetUp() override;

    // Backs up `tpl` under archive `archive` (create-replica with `replica`)
    // and keeps its snapshot file aside for the restores; fails the test when
    // the backup does not succeed.
    void back_up(const std::string& tpl, const std::string& archive = "bk1", bool replica = false,
                 const std::vector<std::string>& extra = {});

    // "-r <record> -d <restore operation directory> -m srv1 -T T1 -M <copy of
    // the snapshot file>" and, unless `params` is empty, "-e <params>".
    kevra_test::ProgramResult restore(const std::string& params = "last:true", const std::string& record = kRecord,
                                      const std::vector<std::string>& extra = {});
    // The arguments of that restore (after the program's path), with a fresh
    // copy of the snapshot file in the restore's operation directory.
    std::vector<std::string> restore_arguments(const std::string& params = "last:true",
                                               const std::string& record = kRecord,
                                               const std::vector<std::string>& extra = {});
    // "-R <record> -d <replica directory> -m srv1 -T T1 -M <copy of the
    // snapshot file>" and, unless `params` is empty, "-e <params>".
    kevra_test::ProgramResult apply_replica(const std::string& params = "", const std::string& record = kRecord);
    // The same restore from a meta file instead of the snapshot file.
    kevra_test::ProgramResult restore_from_meta(const std::string& meta, const std::string& params = "last:true",
                                                const kevra_test::ProgramLimits& limits = {});

    // Puts an archive into the engine's store as a backup would: each entry
    // (archive name => content) written to a file first. Returns its meta file.
    std::string make_archive(const std::string& name, const std::map<std::string, std::string>& entries);

    // Every path below `directory` (relative, sorted); empty when it is missing.
    std::vector<std::string> tree(const std::string& directory) const;
    // The images whose names begin with `prefix`, sorted.
    std::vector<std::string> images_named(const std::string& prefix) const;
    // The TEMPLATE content of a platform template as `onetemplate show -x` prints it.
    std::string template_xml(const std::string& tpl) const;
    // The number of engine calls logged so far.
    std::size_t engine_calls() const;

    std::string saved_snapshot_;  // the backup's snapshot file, kept aside
    std::string archive_;         // the backup's archive name
    std::string restore_dir_;     // the restore's operation directory
    std::string replica_dir_;     // the replica application's directory
};

}  // namespace kevra_e2e
