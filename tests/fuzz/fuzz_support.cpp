#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "common/hx_logger.h"

namespace kevra_fuzz {

namespace {

// Keeps the last record only, so that a target's memory does not grow with its records.
class MemoryLogger : public HxDestination::HxLogger {
public:
    static std::string& last_record()
    {
        static std::string text;
        return text;
    }

protected:
    int write_log_impl(const std::string& text) override
    {
        last_record() = text;
        return 0;
    }
};

void write_all_or_abort(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
}

void ignore_xml_message(void*, const char*, ...) {}

void ignore_structured_xml_error(void*, xmlErrorPtr) {}

}  // namespace

void quiet_process()
{
    // Standard input is empty too, so that a parser told to read a file such
    // as /dev/stdin never waits for a terminal.
    const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 || ::dup2(null_fd, STDOUT_FILENO) < 0) {
        std::abort();
    }
    ::close(null_fd);

    xmlSetGenericErrorFunc(nullptr, ignore_xml_message);
    xmlSetStructuredErrorFunc(nullptr, ignore_structured_xml_error);

    // The configuration stays open for the whole process: the first record reads it.
    static memory_file config(
        "log_level Debug4\n"
        "log_file_max_size 1\n"
        "log_file_max_rotate 1\n");
    HxLogStream::set_config_path(config.path());
    HxLogStream::clear_loggers();
    HxLogStream::set_default_loggers(std::make_unique<MemoryLogger>());
    HxLogStream(HxLogLvl::Debug) << "fuzz target ready" << std::endl;
}

std::string input_text(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string> input_pieces(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> pieces;
    if (size == 0) {
        return pieces;
    }
    pieces.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back() += static_cast<char>(data[i]);
        }
    }
    return pieces;
}

memory_file::memory_file(const std::string& text)
{
    fd_ = ::memfd_create("kevra-fuzz-input", MFD_CLOEXEC);
    if (fd_ < 0) {
        std::abort();
    }
    write_all_or_abort(fd_, text);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

memory_file::~memory_file()
{
    ::close(fd_);
}

}  // namespace kevra_fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kevra_fuzz::quiet_process();
    return 0;
}
