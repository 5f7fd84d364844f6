#pragma once
#include <windows.h>

// Title and text of the "this Windows is too old" box, each in a buffer of
// 1,024 wide characters (1,023 and the terminator).
struct RefusalText {
    static const int kBufferLength = 1024;
    wchar_t title[kBufferLength];
    wchar_t text[kBufferLength];
};

// The built-in English texts, used for a string the module does not carry.
extern const wchar_t kRefusalFallbackTitle[];
extern const wchar_t kRefusalFallbackText[];

// Loads strings 104 (title) and 105 (text) from the module (nullptr: the
// program's own executable) in the user's language; each missing string is
// replaced by its built-in English text on its own.
void loadRefusalText(HINSTANCE module, RefusalText& out);
