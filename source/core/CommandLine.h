#pragma once
#include <string>
#include <vector>

using ArgumentVector = std::vector<std::wstring>;

// Joins the vector into one command line. Every element is quoted; a run of
// backslashes is doubled only where a quote follows it, and an inner quote is
// escaped, so the platform's standard splitting gives the elements back.
std::wstring buildCommandLine(const ArgumentVector& arguments);
