#pragma once
#include <map>
#include <string>
#include <vector>

// One option a command accepts: "--zip64" (a flag) or "-o" (takes a value).
struct OptionDef {
    const char* name;
    bool takesValue;
    bool repeatable = false; // "--exclude A --exclude B": every value is kept, in order
};

// A command's arguments after parsing: positional words in order, options by name.
struct ParsedArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    std::map<std::string, std::vector<std::string>> lists; // repeatable options
    bool helpRequested = false;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string value(const std::string& name) const;
};

// Parses argv[first..argc) against the accepted options. "--help" and "-h" are
// always accepted; "--" ends option parsing. On failure returns false and
// leaves a one-line reason in `error`.
bool parseArguments(int argc, char** argv, int first, const std::vector<OptionDef>& accepted,
                    ParsedArguments& out, std::string& error);

// Parses a non-negative decimal number that fits in an int.
bool parseSmallNumber(const std::string& text, int& out);
