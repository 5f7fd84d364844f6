#pragma once
#include <string>

// The installed client's executable path from HKLM\Software\Norvik, value
// ClientPath, in the registry's 32-bit view for every build. True when the value
// was read; an empty string is a valid result.
bool readClientPath(std::wstring& clientPath);

// True, with `configPath` set, when <exeFolder>\Autorun\vozedozav.json exists
// (a folder of that name counts). `configPath` is untouched otherwise.
bool findSetupConfig(const std::wstring& exeFolder, std::wstring& configPath);

// Splits the program's own path at its last '/' or '\'. Without a separator
// both parts are the whole path.
void splitExePath(const std::wstring& path, std::wstring& folder, std::wstring& fileName);

// A wrapper whose file name holds "BOI" or "Beta", in any letter case, is a beta build.
bool isBetaFileName(const std::wstring& fileName);
