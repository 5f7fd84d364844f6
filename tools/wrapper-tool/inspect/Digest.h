#pragma once
#include <string>

// The SHA-256 of the file `path` as lowercase hex, the installer's digest
// that pack, verify and list report; empty when the file cannot be read.
// libcrypto computes it natively, BCrypt on Windows.
std::string fileSha256(const std::string& path);
