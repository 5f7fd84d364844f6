#include "cli/Arguments.h"

std::string ParsedArguments::value(const std::string& name) const
{
    auto it = options.find(name);
    return it == options.end() ? std::string() : it->second;
}

namespace {

const OptionDef* findOption(const std::vector<OptionDef>& accepted, const std::string& name)
{
    for (const OptionDef& option : accepted)
        if (name == option.name)
            return &option;
    return nullptr;
}

} // namespace

bool parseArguments(int argc, char** argv, int first, const std::vector<OptionDef>& accepted,
                    ParsedArguments& out, std::string& error)
{
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            out.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            out.helpRequested = true;
            continue;
        }
        // "--level=6" is accepted as well as "--level 6".
        std::string inlineValue;
        bool hasInlineValue = false;
        size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            inlineValue = word.substr(equals + 1);
            word.resize(equals);
            hasInlineValue = true;
        }
        const OptionDef* option = findOption(accepted, word);
        // "-j4" as well as "-j 4": a short option with its value attached.
        if (option == nullptr && !hasInlineValue && word[1] != '-' && word.size() > 2) {
            const OptionDef* shortOption = findOption(accepted, word.substr(0, 2));
            if (shortOption != nullptr && shortOption->takesValue) {
                option = shortOption;
                inlineValue = word.substr(2);
                hasInlineValue = true;
                word.resize(2);
            }
        }
        if (option == nullptr) {
            error = "unknown option '" + word + "'";
            return false;
        }
        if (option->repeatable) {
            if (hasInlineValue) {
                out.lists[word].push_back(inlineValue);
            } else if (i + 1 < argc) {
                out.lists[word].push_back(argv[++i]);
            } else {
                error = "option '" + word + "' needs a value";
                return false;
            }
            out.options[word] = out.lists[word].back();
            continue;
        }
        if (out.has(word)) {
            error = "option '" + word + "' given twice";
            return false;
        }
        if (!option->takesValue) {
            if (hasInlineValue) {
                error = "option '" + word + "' takes no value";
                return false;
            }
            out.options[word] = std::string();
        } else if (hasInlineValue) {
            out.options[word] = inlineValue;
        } else if (i + 1 < argc) {
            out.options[word] = argv[++i];
        } else {
            error = "option '" + word + "' needs a value";
            return false;
        }
    }
    return true;
}

bool parseSmallNumber(const std::string& text, int& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}
