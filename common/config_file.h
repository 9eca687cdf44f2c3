#ifndef KEVRA_COMMON_CONFIG_FILE_H
#define KEVRA_COMMON_CONFIG_FILE_H

// Line-oriented configuration files: comment lines starting with '#' and
// "name value" lines, kept in file order with an index by name.

#include <exception>
#include <iosfwd>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace hx_config {

const char commentSign = '#';

enum ConfigEntityType { Comment_Type = 0, Variable_Type = 1 };

// One entry of a configuration file.
class ConfigEntity {
public:
    explicit ConfigEntity(ConfigEntityType type) : type_(type) {}
    virtual ~ConfigEntity() = default;

    // The entry's line as written to a file (without the line end).
    virtual std::string get() = 0;

    ConfigEntityType getType() const { return type_; }

private:
    ConfigEntityType type_;
};

class Comment : public ConfigEntity {
public:
    explicit Comment(const std::string& text) : ConfigEntity(Comment_Type), text_(text) {}

    // '#' followed by the text.
    std::string get() override { return std::string(1, commentSign) + text_; }

    // The text after the '#'.
    std::string getPure() const { return text_; }

private:
    std::string text_;
};

class Variable : public ConfigEntity {
public:
    // `name` points at the index key of the file that holds this entry.
    Variable(const std::string* name, const std::string& value)
        : ConfigEntity(Variable_Type), name_(name), value_(value) {}

    // name + " " + value (a trailing blank when the value is empty).
    std::string get() override { return *name_ + " " + value_; }

    std::string getName() const { return *name_; }
    std::string getValue() const { return value_; }
    void setValue(const std::string& value) { value_ = value; }

private:
    const std::string* name_;
    std::string value_;
};

class WrongConfigException : public std::exception {
public:
    explicit WrongConfigException(const std::string& message) : message_(message) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The message is the bare name of the missing variable.
class VariableAbsentException : public std::exception {
public:
    explicit VariableAbsentException(const std::string& name) : message_(name) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

class ConfigFile {
public:
    using Entries = std::list<std::shared_ptr<ConfigEntity>>;

    ConfigFile() = default;

    // Loads `path`; throws WrongConfigException ("Can't open file '<path>'")
    // when it cannot be read.
    explicit ConfigFile(const std::string& path);

    // Copies the entries, not the path; throws WrongConfigException for an
    // entry of an unknown kind.
    ConfigFile(const ConfigFile& other);
    ConfigFile& operator=(const ConfigFile& other);
    virtual ~ConfigFile() = default;

    // Remembers `path` and adds its entries to those present (existing names
    // get the new value in place). Throws WrongConfigException on failure.
    void load(const std::string& path);

    // Reads the remembered path. Returns true when read; false with `error`
    // set to "Can't open file " + the quoted path when it cannot be opened.
    bool loadConfig(std::string& error);
    // Adds the entries of the text read from `in` to those present (existing
    // names get the new value in place); never fails on its content.
    void read(std::istream& in);

    // Writes every entry, one line each, to `path`, replacing it only once the
    // whole text is written. Returns true when saved; false (the old file
    // unchanged, nothing left behind) when it cannot be written.
    bool save(const std::string& path) const;

    // The value of `name`; throws VariableAbsentException(name) when absent.
    std::string operator[](const std::string& name) const;

    bool variableExists(const std::string& name) const;

    // Appends a new name, or replaces the value of an existing one in place.
    void addVariable(const std::string& name, const std::string& value);

    // Appends a comment with `text` (without the '#').
    void addComment(const std::string& text);

    // Erases the variable; throws VariableAbsentException(name) when absent.
    void removeVariable(const std::string& name);

    // Erases the first comment whose line ('#' included) equals `line`.
    void removeComment(const std::string& line);

    // True when some comment's line ('#' included) equals `line`.
    bool commentExists(const std::string& line) const;

    // Empties the entries and forgets the path.
    void clear();

    Entries::const_iterator begin() const { return entries_.begin(); }
    Entries::const_iterator end() const { return entries_.end(); }

    const std::string& path() const { return path_; }

private:
    void copy_entries(const ConfigFile& other);

    std::string path_;
    Entries entries_;
    std::map<std::string, Entries::iterator> index_;
};

// Writes the entry's line and std::endl.
std::ostream& operator<<(std::ostream& out, ConfigEntity& entity);

}  // namespace hx_config

#endif
