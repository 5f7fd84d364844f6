#pragma once
#include <cstdint>
#include <string>

#include "ZipByteSource.h"

// Which stub an executable is, by its version block: the product it names
// and its product version. Any other PE file (an inner setup, a demo
// program, a stub of another release) is told apart from this tree's stub.
struct StubIdentity {
    enum class Kind { ThisStub, OtherVersion, NotTheStub } kind = Kind::NotTheStub;
    std::string productName;    // as the block names it; empty without one
    std::string productVersion; // "10.99.0.21465", from the block's numbers
    std::string reason;         // what was found instead, for a refusal
};

StubIdentity identifyStub(const uint8_t* image, uint64_t size);
// The same for a file read through views: the version block lies in the
// stub's image, within the file's first window.
StubIdentity identifyStub(ZipByteSource& file);

// "ZuvidaDiroVivuv 10.99.0.21465": the stub this tool packs for.
std::string expectedStubText();
