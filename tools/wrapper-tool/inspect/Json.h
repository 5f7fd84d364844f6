#pragma once
#include <string>

#include <nlohmann/json.hpp>

// The tool's JSON documents keep their fields in the order they are added.
using JsonDocument = nlohmann::ordered_json;

// The document as text, indented by two, with a final newline. Names are
// UTF-8 already; bytes that are not (a path as the user typed it) are
// replaced rather than refused.
std::string jsonText(const JsonDocument& document);
