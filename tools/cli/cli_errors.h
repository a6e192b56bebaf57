// Failures of the d2udir command. Each becomes one line on standard error and an exit status:
// 2 for a command line that cannot be run, 1 for work that failed.
#pragma once

#include <stdexcept>
#include <string>

namespace d2ucli {

class CliError : public std::runtime_error {
public:
    CliError(const std::string& message, int status)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

class UsageError : public CliError {
public:
    explicit UsageError(const std::string& message) : CliError(message, 2) {}
};

class RuntimeError : public CliError {
public:
    explicit RuntimeError(const std::string& message) : CliError(message, 1) {}
};

}  // namespace d2ucli
