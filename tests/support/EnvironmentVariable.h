#pragma once

#include <cstdlib>
#include <string>

namespace trelvo::test {

/// Sets (or, for nullptr, unsets) an environment variable for the life of the object, then
/// puts back what was there.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old, hadValue = true;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvironmentVariable() {
        if (hadValue)
            setenv(name, saved.c_str(), 1);
        else
            unsetenv(name);
    }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    const char* name;
    std::string saved;
    bool hadValue = false;
};

} // namespace trelvo::test
