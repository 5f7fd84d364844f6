#pragma once
#include <string>

// Shell-style pattern match on one '/'-separated path, ignoring letter case
// (Windows file names do): '*' any run of characters within a folder name,
// '?' one character other than '/', a "**" segment any number of folders
// (none included), everything else itself.
bool globMatch(const std::string& pattern, const std::string& text);

// Whether `--exclude PATTERN` leaves out the entry at `relativePath` ('/'
// separators, no trailing '/'). A pattern ending in '/' names folders only
// ("docs/"). A pattern without another '/' is matched against the entry's
// own name at any depth ("*.pdb", ".DS_Store"); one with '/' against the
// whole path from the folder's top ("docs/drafts", "**/cache", a leading
// '/' only anchors).
bool excludedBy(const std::string& pattern, const std::string& relativePath, bool isDirectory);
