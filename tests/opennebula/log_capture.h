#pragma once
// Collects the log records the access layer writes, so a test can check them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace opennebula_test {

// Installs a capturing destination for every level (and a private logging
// configuration file) for the life of the fixture.
class LogCapture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Every record written since SetUp (or the last clear), in order.
    const std::vector<std::string>& records() const;
    void clear_records();

    // True when some record contains `piece`.
    bool logged(const std::string& piece) const;

    // All records joined by newlines, for failure messages.
    std::string all_records() const;

    // A fresh private folder for this test, removed in TearDown.
    std::string scratch_dir() const { return scratch_; }

private:
    std::string scratch_;
};

// The text of a recorded document in tests/opennebula/data/.
std::string recorded_document(const std::string& name);

// Writes `text` to `path`.
void write_file(const std::string& path, const std::string& text);

// The content of the file at `path` (empty when it cannot be read).
std::string read_file(const std::string& path);

}  // namespace opennebula_test
