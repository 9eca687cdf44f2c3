#ifndef KEVRA_COMMON_SCOPED_ENV_H
#define KEVRA_COMMON_SCOPED_ENV_H

// An environment variable of this process, set for the life of one object.

#include <string>

class EnvironmentVariable {
public:
    // Sets the variable `name` to `value`, replacing any value it had. Throws
    // std::runtime_error `environment variable "NAME" set failure` when it cannot
    // be set (an empty name, a name with '='); the object is then not made.
    EnvironmentVariable(const std::string& name, const std::string& value);
    // The same with the empty value.
    explicit EnvironmentVariable(const std::string& name);

    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

    // Gives the variable back the value it had before the object was made, or
    // removes it when it was not set then. Never throws.
    ~EnvironmentVariable();

    // The variable's name.
    const std::string& getName() const;
    // The variable's current value; the empty text when it is not set.
    std::string getValue() const;
    // Sets the variable (replacing); throws the set-failure error when it cannot.
    void setValue(const std::string& value);
    // Removes the variable; throws `environment variable "NAME" unset failure`
    // when it cannot.
    void unset();

    // The same for any variable by name.
    static std::string getValue(const std::string& name);
    static void setValue(const std::string& name, const std::string& value);
    static void unset(const std::string& name);

private:
    std::string name_;
    bool had_value_ = false;  // whether the variable was set before this object
    std::string old_value_;   // its value then
};

#endif
