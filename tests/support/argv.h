#pragma once
// An argv array built from texts, for code that parses a command line.

#include <string>
#include <utility>
#include <vector>

namespace kevra_test {

// argv[0] is `program`, then `args`, then a null pointer; the texts live as
// long as the object.
class Argv {
public:
    Argv(std::vector<std::string> args, const std::string& program)
    {
        texts_.push_back(program);
        for (auto& arg : args) {
            texts_.push_back(std::move(arg));
        }
        for (auto& text : texts_) {
            pointers_.push_back(&text[0]);
        }
        pointers_.push_back(nullptr);
    }
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;

    int argc() const { return static_cast<int>(texts_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

}  // namespace kevra_test
