#include "pack/PackChecks.h"

#include <filesystem>
#include <system_error>

#include "FileMapping.h"
#include "inspect/StubIdentity.h"
#include "PeImage.h"
#include "ZipReader.h"

namespace fs = std::filesystem;

namespace {

fs::path absoluteForm(const std::string& path)
{
    std::error_code code;
    fs::path resolved = fs::weakly_canonical(fs::absolute(fs::path(path), code), code);
    return code ? fs::absolute(fs::path(path)).lexically_normal() : resolved;
}

bool isInside(const fs::path& inner, const fs::path& outer)
{
    auto o = outer.begin(), i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty())
            continue; // a trailing separator
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

} // namespace

bool checkStub(const std::string& stubPath, FileMapping& stub, std::string& error)
{
    if (!isPeImage(stub)) {
        error = "refused '" + stubPath + "': not a Windows executable (no PE header); give the stub "
                "ZuvidaDiroVivuv.exe as STUB";
        return false;
    }
    const StubIdentity identity = identifyStub(stub);
    if (identity.kind != StubIdentity::Kind::ThisStub) {
        error = "refused '" + stubPath + "': " + identity.reason;
        return false;
    }
    const uint64_t searched = payloadSearchSize(stub);
    if (searched < stub.size()) {
        error = "refused '" + stubPath +
                "': it already carries a signature (certificate table); "
                "pack the unsigned stub, then sign the result";
        return false;
    }
    ZipReader reader;
    if (reader.open(stub, searched)) {
        error = "refused '" + stubPath + "': it already carries a payload (" +
                std::to_string(reader.entries().size()) +
                " entries); is it an installer? Give the bare stub as STUB";
        return false;
    }
    return true;
}

bool checkOutputPath(const std::string& out, const std::string& stub, const std::string& folder,
                     std::string& error)
{
    const fs::path outPath = absoluteForm(out);
    std::error_code code;
    if (outPath == absoluteForm(stub) || fs::equivalent(fs::path(out), fs::path(stub), code)) {
        error = "refused -o '" + out + "': it is the stub itself; write the installer to another file";
        return false;
    }
    if (isInside(outPath, absoluteForm(folder))) {
        error = "refused -o '" + out + "': it lies inside the payload folder '" + folder +
                "' and would pack itself; write it elsewhere";
        return false;
    }
    return true;
}
