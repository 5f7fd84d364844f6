#include "inspect/StubIdentity.h"

#include "WrapperVersion.h"
#include "inspect/VersionBlock.h"

std::string expectedStubText()
{
    return std::string(WRAPPER_PRODUCT_NAME) + " " + WRAPPER_VERSION_STRING;
}

StubIdentity identifyStub(const uint8_t* image, uint64_t size)
{
    StubIdentity identity;
    VersionBlock block;
    std::string malformed;
    const VersionBlockResult read = readVersionBlock(image, size, block, malformed);
    if (read == VersionBlockResult::NotFound) {
        identity.reason = "it has no version block, so it is not the " + expectedStubText() + " stub";
        return identity;
    }
    if (read == VersionBlockResult::Malformed) {
        identity.reason = malformed;
        return identity;
    }
    const auto name = block.strings.find("ProductName");
    identity.productName = name == block.strings.end() ? std::string() : name->second;
    identity.productVersion = dottedVersion(block.productVersion);
    const std::string found = "its version block names '" + identity.productName + "' version " +
                              identity.productVersion;
    if (identity.productName != WRAPPER_PRODUCT_NAME) {
        identity.reason = found + ", not the " + expectedStubText() + " stub";
        return identity;
    }
    // The text field is what Explorer shows; both must agree with the build.
    const auto text = block.strings.find("ProductVersion");
    if (identity.productVersion != WRAPPER_VERSION_STRING || text == block.strings.end() ||
        text->second != WRAPPER_VERSION_COMMAS) {
        identity.kind = StubIdentity::Kind::OtherVersion;
        identity.reason = found + " (text '" + (text == block.strings.end() ? "" : text->second) +
                          "'); this tool packs for " + expectedStubText();
        return identity;
    }
    identity.kind = StubIdentity::Kind::ThisStub;
    return identity;
}

StubIdentity identifyStub(ZipByteSource& file)
{
    const uint32_t length = file.size() < file.windowSize() ? uint32_t(file.size()) : file.windowSize();
    const uint8_t* head = length == 0 ? nullptr : file.view(0, length);
    return head == nullptr ? identifyStub(nullptr, 0) : identifyStub(head, length);
}
