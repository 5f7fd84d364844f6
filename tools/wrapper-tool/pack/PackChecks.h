#pragma once
#include <string>

class FileMapping;

// Refusals made before anything is written, each with the reason in `error`:
// a STUB that is not a Windows executable, one that already carries a
// signature or a payload (an installer given as the stub), and an output
// that is the stub itself or lies inside the payload folder.
bool checkStub(const std::string& stubPath, FileMapping& stub, std::string& error);
bool checkOutputPath(const std::string& out, const std::string& stub, const std::string& folder,
                     std::string& error);
