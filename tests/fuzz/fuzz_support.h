#ifndef KEVRA_TESTS_FUZZ_FUZZ_SUPPORT_H
#define KEVRA_TESTS_FUZZ_FUZZ_SUPPORT_H

// What every fuzz target shares: a process that writes nothing outside its
// memory (log records, standard output, libxml2's messages) and reads no
// configuration of the host, and the input as the texts the parsers take.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kevra_fuzz {

// Run once before the first input (LLVMFuzzerInitialize, in this library, calls
// it for every target): log records of every level go to a memory
// destination (the logging configuration is read from an in-memory file, never
// the host's, and never rewritten), standard input and output are /dev/null and
// libxml2 reports nothing. Never fails; aborts when the process cannot be set up.
void quiet_process();

// The input as a text (NUL bytes kept).
std::string input_text(const std::uint8_t* data, std::size_t size);

// The input cut at every NUL byte into pieces (an empty input gives none).
std::vector<std::string> input_pieces(const std::uint8_t* data, std::size_t size);

// A path that reads as `text` without touching the file system: an anonymous
// memory file, named through /proc/self/fd. The file lives as long as the object.
class memory_file {
public:
    explicit memory_file(const std::string& text);
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;
    ~memory_file();
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace kevra_fuzz

#endif
