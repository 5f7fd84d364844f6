#pragma once
#include <string>

// `bytes` as a JSON string literal, quotes included. Control characters and
// bytes above 0x7F are escaped as \u00XX (each byte read as Latin-1), so
// any stored name gives valid JSON.
std::string jsonString(const std::string& bytes);
