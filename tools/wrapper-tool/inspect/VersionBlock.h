#pragma once
#include <cstdint>
#include <map>
#include <string>

// What an executable's version block (the VS_VERSION_INFO resource) says:
// the numeric file and product versions and the texts of its first string
// table ("ProductName", "ProductVersion", ...).
struct VersionBlock {
    uint16_t fileVersion[4] = {};
    uint16_t productVersion[4] = {};
    std::map<std::string, std::string> strings; // characters outside ASCII read as '?'
};

// "10.99.0.21465"
std::string dottedVersion(const uint16_t (&version)[4]);

// Reads the version block of a PE image from its resource section, without
// loading it: works on any platform and on any word size. NotFound when the
// image has no resources or no version among them; Malformed names what does
// not hold together in `reason`.
enum class VersionBlockResult { Found, NotFound, Malformed };
VersionBlockResult readVersionBlock(const uint8_t* image, uint64_t size, VersionBlock& out,
                                    std::string& reason);
