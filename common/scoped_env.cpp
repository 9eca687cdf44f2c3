#include "common/scoped_env.h"

#include "common/quoting.h"

#include <cstdlib>
#include <stdexcept>

namespace hx_details_linux {
namespace {

// The C calls see texts only up to their first NUL, and a name with '=' or an
// empty one names no variable: such a text would reach another variable than
// the one asked for, so it is refused before any call.
bool valid_name(const std::string& name)
{
    return !name.empty() && name.find('=') == std::string::npos && name.find('\0') == std::string::npos;
}

bool set_env_var(const std::string& name, const std::string& value, bool overwrite)
{
    if (!valid_name(name) || value.find('\0') != std::string::npos) {
        return false;
    }
    return ::setenv(name.c_str(), value.c_str(), overwrite ? 1 : 0) == 0;
}

bool unset_env_var(const std::string& name)
{
    return valid_name(name) && ::unsetenv(name.c_str()) == 0;
}

// Null when the variable is not set or the name names none.
const char* get_env_var(const std::string& name)
{
    return valid_name(name) ? std::getenv(name.c_str()) : nullptr;
}

}  // namespace
}  // namespace hx_details_linux

namespace {

// The message names the variable in double quotes; a NUL byte in the name is
// written as \0, since the message is read as a C string and would end there.
std::runtime_error failure(const std::string& name, const char* what)
{
    std::string quoted;
    for (const char c : kelvomar::as_quoted(name, '"', '\\')) {
        quoted += c == '\0' ? std::string("\\0") : std::string(1, c);
    }
    return std::runtime_error("environment variable " + quoted + " " + what);
}

}  // namespace

EnvironmentVariable::EnvironmentVariable(const std::string& name, const std::string& value) : name_(name)
{
    if (const char* old = hx_details_linux::get_env_var(name_)) {
        had_value_ = true;
        old_value_ = old;
    }
    setValue(name_, value);
}

EnvironmentVariable::EnvironmentVariable(const std::string& name) : EnvironmentVariable(name, std::string())
{
}

EnvironmentVariable::~EnvironmentVariable()
{
    if (had_value_) {
        hx_details_linux::set_env_var(name_, old_value_, true);
    } else {
        hx_details_linux::unset_env_var(name_);
    }
}

const std::string& EnvironmentVariable::getName() const
{
    return name_;
}

std::string EnvironmentVariable::getValue() const
{
    return getValue(name_);
}

void EnvironmentVariable::setValue(const std::string& value)
{
    setValue(name_, value);
}

void EnvironmentVariable::unset()
{
    unset(name_);
}

std::string EnvironmentVariable::getValue(const std::string& name)
{
    const char* value = hx_details_linux::get_env_var(name);
    return value ? std::string(value) : std::string();
}

void EnvironmentVariable::setValue(const std::string& name, const std::string& value)
{
    if (!hx_details_linux::set_env_var(name, value, true)) {
        throw failure(name, "set failure");
    }
}

void EnvironmentVariable::unset(const std::string& name)
{
    if (!hx_details_linux::unset_env_var(name)) {
        throw failure(name, "unset failure");
    }
}
