// Command-line parsing of one subcommand: long options (--name VALUE, --name=VALUE), their
// one-letter forms (-o VALUE), and positional arguments. Anything wrong is a UsageError.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d2ucli {

struct OptionDefinition {
    const char* name;  // without the leading dashes
    char letter;       // 0 when there is no one-letter form
    bool takesValue;
};

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

class Arguments {
public:
    // `command` names the subcommand in messages.
    Arguments(const std::string& command, const std::vector<OptionDefinition>& definitions,
              int argc, char** argv);

    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& positionals() const { return positionals_; }
    // Exactly `count` positional arguments, named in `what` for the message.
    void ExpectPositionals(size_t count, const char* what) const;

    // Typed option values; the fallback when the option is absent.
    int64_t Count(const std::string& name, int64_t fallback, int64_t low, int64_t high) const;
    double Number(const std::string& name, double fallback, double low, double high) const;
    PictureSize Size(const std::string& name, PictureSize fallback) const;

    [[noreturn]] void Fail(const std::string& message) const;

private:
    const OptionDefinition* Find(const std::string& name) const;
    const OptionDefinition* FindLetter(char letter) const;
    void Take(const OptionDefinition& option, const std::string& given, int& index, int argc,
              char** argv, const char* inlineValue);

    std::string command_;
    std::vector<OptionDefinition> definitions_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> positionals_;
};

}  // namespace d2ucli
