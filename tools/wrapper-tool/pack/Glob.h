#pragma once
#include <string>

// Shell-style pattern match: '*' any run of characters, '?' one character,
// everything else itself. '*' and '?' do not cross a '/'.
bool globMatch(const std::string& pattern, const std::string& text);

// Whether `--exclude PATTERN` leaves out the entry at `relativePath` ('/'
// separators, no trailing '/'): a pattern without '/' is matched against the
// entry's own name at any depth ("*.pdb", ".DS_Store"), one with '/' against
// the whole path from the folder's top ("docs/drafts").
bool excludedBy(const std::string& pattern, const std::string& relativePath);
