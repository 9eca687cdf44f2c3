#include "common/config_file.h"
#include "common/write_all.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/quoting.h"

namespace hx_config {

namespace {

std::string trimmed(const std::string& line) {
    const auto blank = [](char c) { return std::isspace(c, std::locale::classic()); };
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && blank(line[begin])) {
        ++begin;
    }
    while (end > begin && blank(line[end - 1])) {
        --end;
    }
    return line.substr(begin, end - begin);
}


// Creates a new, empty file beside `path`; returns its descriptor (or -1) and its name.
int create_temporary(const std::string& path, std::string& name) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

ConfigFile::ConfigFile(const std::string& path) : path_(path) {
    std::string error;
    if (!loadConfig(error)) {
        throw WrongConfigException(error);
    }
}

ConfigFile::ConfigFile(const ConfigFile& other) { copy_entries(other); }

ConfigFile& ConfigFile::operator=(const ConfigFile& other) {
    if (this == &other) {
        return *this;  // clearing first would empty both sides
    }
    ConfigFile copy(other);  // throws before this object is touched
    clear();
    entries_.swap(copy.entries_);
    index_.swap(copy.index_);
    return *this;
}

void ConfigFile::copy_entries(const ConfigFile& other) {
    for (const auto& entry : other.entries_) {
        if (entry->getType() == Comment_Type) {
            addComment(static_cast<const Comment&>(*entry).getPure());
        } else if (entry->getType() == Variable_Type) {
            const auto& variable = static_cast<const Variable&>(*entry);
            addVariable(variable.getName(), variable.getValue());
        } else {
            throw WrongConfigException("Unsupported format data " +
                                       kelvomar_common::single_quoted(entry->get()));
        }
    }
}

void ConfigFile::load(const std::string& path) {
    path_ = path;
    std::string error;
    if (!loadConfig(error)) {
        throw WrongConfigException(error);
    }
}

bool ConfigFile::loadConfig(std::string& error) {
    std::ifstream in(path_);
    if (!in.is_open()) {
        error = "Can't open file " + kelvomar_common::single_quoted(path_);
        return false;
    }
    read(in);
    return true;
}

void ConfigFile::read(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == commentSign) {
            addComment(line.substr(1));
            continue;
        }
        const std::size_t gap = line.find_first_of(" \t");
        if (gap == std::string::npos) {
            addVariable(line, "");
            continue;
        }
        const std::size_t value = line.find_first_not_of(" \t", gap);
        addVariable(line.substr(0, gap), value == std::string::npos ? "" : line.substr(value));
    }
}

bool ConfigFile::save(const std::string& path) const {
    std::string text;
    for (const auto& entry : entries_) {
        text += entry->get();
        text += '\n';
    }
    // A symbolic link stays in place: the file it points at is replaced.
    std::string target = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved != nullptr) {
            target = resolved;
            std::free(resolved);
        }
    }
    std::string temporary;
    const int fd = create_temporary(target, temporary);
    if (fd < 0) {
        return false;
    }
    // A replaced file keeps its permissions and, where allowed, its owner; a
    // new one gets 0666 less the umask.
    struct stat old {};
    bool ok = true;
    if (::stat(target.c_str(), &old) == 0) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // not permitted for an ordinary user: the file becomes the caller's
        }
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && kelvomar::write_all(fd, text) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

std::string ConfigFile::operator[](const std::string& name) const {
    const auto found = index_.find(name);
    if (found == index_.end()) {
        throw VariableAbsentException(name);
    }
    return static_cast<const Variable&>(**found->second).getValue();
}

bool ConfigFile::variableExists(const std::string& name) const {
    return index_.find(name) != index_.end();
}

void ConfigFile::addVariable(const std::string& name, const std::string& value) {
    const auto found = index_.find(name);
    if (found != index_.end()) {
        static_cast<Variable&>(**found->second).setValue(value);
        return;
    }
    const auto slot = index_.emplace(name, entries_.end()).first;
    slot->second = entries_.insert(entries_.end(), std::make_shared<Variable>(&slot->first, value));
}

void ConfigFile::addComment(const std::string& text) {
    entries_.push_back(std::make_shared<Comment>(text));
}

void ConfigFile::removeVariable(const std::string& name) {
    const auto found = index_.find(name);
    if (found == index_.end()) {
        throw VariableAbsentException(name);
    }
    entries_.erase(found->second);
    index_.erase(found);
}

void ConfigFile::removeComment(const std::string& line) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if ((*it)->getType() == Comment_Type && (*it)->get() == line) {
            entries_.erase(it);
            return;
        }
    }
}

bool ConfigFile::commentExists(const std::string& line) const {
    for (const auto& entry : entries_) {
        if (entry->getType() == Comment_Type && entry->get() == line) {
            return true;
        }
    }
    return false;
}

void ConfigFile::clear() {
    entries_.clear();
    index_.clear();
    path_.clear();
}

std::ostream& operator<<(std::ostream& out, ConfigEntity& entity) {
    return out << entity.get() << std::endl;
}

}  // namespace hx_config
