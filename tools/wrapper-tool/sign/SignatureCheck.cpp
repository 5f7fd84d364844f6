#include "sign/SignatureCheck.h"

#ifdef _WIN32
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "platform/WidePath.h"
#else
#include "platform/ExternalTool.h"
#endif

const char* signatureStateText(SignatureState state)
{
    switch (state) {
    case SignatureState::None:
        return "none";
    case SignatureState::Valid:
        return "valid";
    case SignatureState::Invalid:
        return "invalid";
    case SignatureState::NotChecked:
        return "present but not checked (tool missing)";
    }
    return "unknown";
}

#ifdef _WIN32

SignatureState checkSignature(const std::string& path, bool hasCertificateTable, const std::string&,
                              std::string& detail, bool& altered)
{
    altered = false;
    if (!hasCertificateTable)
        return SignatureState::None;
    std::wstring wide = widePath(path);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (status == ERROR_SUCCESS)
        return SignatureState::Valid;
    char text[32];
    wsprintfA(text, "WinVerifyTrust: 0x%08lX", static_cast<unsigned long>(status));
    detail = text;
    altered = status == TRUST_E_BAD_DIGEST;
    return SignatureState::Invalid;
}

#else

namespace {

// The checker's reason: its "Error: ..." line when it gives one, else its
// last line that speaks of a failure.
std::string failureReason(const std::string& output)
{
    std::string failure;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        size_t error = line.find("Error: ");
        if (error != std::string::npos)
            return line.substr(error + 7);
        if (line.find("fail") != std::string::npos)
            failure = line;
        start = end + 1;
    }
    return failure;
}

} // namespace

SignatureState checkSignature(const std::string& path, bool hasCertificateTable,
                              const std::string& trustedCertificates, std::string& detail, bool& altered)
{
    altered = false;
    if (!hasCertificateTable)
        return SignatureState::None;
    if (!programOnPath("osslsigncode"))
        return SignatureState::NotChecked;
    std::vector<std::string> command = {"osslsigncode", "verify", "-in", path};
    if (!trustedCertificates.empty()) {
        command.push_back("-CAfile");
        command.push_back(trustedCertificates);
    }
    std::string output;
    const int code = runProgram(command, output);
    if (code < 0)
        return SignatureState::NotChecked;
    if (code == 0)
        return SignatureState::Valid;
    detail = failureReason(output);
    // osslsigncode marks a digest that differs from the file's own.
    altered = output.find("MISMATCH") != std::string::npos;
    if (altered)
        detail = "the file changed after it was signed (digest mismatch)";
    return SignatureState::Invalid;
}

#endif
