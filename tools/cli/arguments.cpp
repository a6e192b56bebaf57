#include "arguments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli_errors.h"

namespace d2ucli {

Arguments::Arguments(const std::string& command, const std::vector<OptionDefinition>& definitions,
                     int argc, char** argv)
    : command_(command), definitions_(definitions) {
    bool optionsEnded = false;
    for (int index = 0; index < argc; ++index) {
        std::string word = argv[index];
        if (optionsEnded || word == "-" || word.size() < 2 || word[0] != '-') {
            positionals_.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word[1] == '-') {
            std::string name = word.substr(2);
            size_t equals = name.find('=');
            const char* inlineValue = nullptr;
            if (equals != std::string::npos) {
                inlineValue = argv[index] + 2 + equals + 1;
                name.resize(equals);
            }
            const OptionDefinition* option = Find(name);
            if (!option) Fail("unknown option '" + word + "'");
            Take(*option, "--" + name, index, argc, argv, inlineValue);
        } else {
            const OptionDefinition* option = word.size() == 2 ? FindLetter(word[1]) : nullptr;
            if (!option) Fail("unknown option '" + word + "'");
            Take(*option, word, index, argc, argv, nullptr);
        }
    }
}

void Arguments::Take(const OptionDefinition& option, const std::string& given, int& index, int argc,
                     char** argv, const char* inlineValue) {
    if (!option.takesValue) {
        if (inlineValue) Fail("option " + given + " takes no value");
        values_[option.name] = "";
        return;
    }
    if (inlineValue) {
        values_[option.name] = inlineValue;
        return;
    }
    if (index + 1 >= argc) Fail("option " + given + " needs a value");
    values_[option.name] = argv[++index];
}

const OptionDefinition* Arguments::Find(const std::string& name) const {
    for (const OptionDefinition& option : definitions_) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

const OptionDefinition* Arguments::FindLetter(char letter) const {
    for (const OptionDefinition& option : definitions_) {
        if (option.letter != 0 && option.letter == letter) return &option;
    }
    return nullptr;
}

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
    auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
}

void Arguments::ExpectPositionals(size_t count, const char* what) const {
    if (positionals_.size() < count) Fail(std::string("missing ") + what);
    if (positionals_.size() > count) Fail("unexpected argument '" + positionals_[count] + "'");
}

int64_t Arguments::Count(const std::string& name, int64_t fallback, int64_t low,
                         int64_t high) const {
    if (!Has(name)) return fallback;
    std::string text = Value(name);
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        Fail("--" + name + " wants a whole number from " + std::to_string(low) + " to " +
             std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

double Arguments::Number(const std::string& name, double fallback, double low, double high) const {
    if (!Has(name)) return fallback;
    std::string text = Value(name);
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= low && value <= high)) {
        Fail("--" + name + " wants a number from " + std::to_string(static_cast<int>(low)) +
             " to " + std::to_string(static_cast<int>(high)) + ", not '" + text + "'");
    }
    return value;
}

PictureSize Arguments::Size(const std::string& name, PictureSize fallback) const {
    if (!Has(name)) return fallback;
    std::string text = Value(name);
    unsigned width = 0, height = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &width, &height, &tail) != 2 || width < 16 ||
        height < 16 || width > 4096 || height > 4096 || text.find_first_of("+- ") == 0) {
        Fail("--" + name + " wants WIDTHxHEIGHT (16 to 4096 each), not '" + text + "'");
    }
    PictureSize size;
    size.width = static_cast<int32_t>(width);
    size.height = static_cast<int32_t>(height);
    return size;
}

void Arguments::Fail(const std::string& message) const {
    throw UsageError(command_ + ": " + message + " (see d2udir " + command_ + " --help)");
}

}  // namespace d2ucli
