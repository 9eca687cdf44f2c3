#include "tests/opennebula/log_capture.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <memory>
#include <sstream>

#include "common/hx_logger.h"
#include "tests/support/run_program.h"

namespace opennebula_test {

namespace {

std::vector<std::string>& captured()
{
    static std::vector<std::string> records;
    return records;
}

class CaptureLogger : public HxDestination::HxLogger {
protected:
    int write_log_impl(const std::string& text) override
    {
        captured().push_back(text);
        return 0;
    }
};

}  // namespace

void LogCapture::SetUp()
{
    namespace fs = boost::filesystem;
    scratch_ = fs::unique_path(fs::temp_directory_path() / "kevra-opennebula-%%%%-%%%%-%%%%").string();
    fs::create_directories(scratch_);
    HxLogStream::set_config_path(scratch_ + "/hx_logger.config");
    HxLogStream::clear_loggers();
    HxLogStream::set_default_loggers(std::unique_ptr<HxDestination::HxLogger>(new CaptureLogger));
    captured().clear();
}

void LogCapture::TearDown()
{
    HxLogStream::clear_loggers();
    boost::system::error_code ignored;
    boost::filesystem::remove_all(scratch_, ignored);
}

const std::vector<std::string>& LogCapture::records() const
{
    return captured();
}

void LogCapture::clear_records()
{
    captured().clear();
}

bool LogCapture::logged(const std::string& piece) const
{
    for (const std::string& record : captured())
        if (record.find(piece) != std::string::npos)
            return true;
    return false;
}

std::string LogCapture::all_records() const
{
    std::string joined;
    for (const std::string& record : captured())
        joined += record;
    return joined;
}

std::string recorded_document(const std::string& name)
{
    return read_file(kevra_test::source_path("tests/opennebula/data/" + name));
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace opennebula_test
