// verify's signature check on Windows: WinVerifyTrust.
#include "sign/SignatureCheck.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "PeImage.h"
#include "platform/WidePath.h"

SignatureReport checkSignature(const std::string& path, ZipByteSource& image, const std::string&)
{
    SignatureReport report;
    uint64_t tableOffset = 0;
    uint64_t tableSize = 0;
    if (!findCertificateTable(image, tableOffset, tableSize))
        return report;
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
    if (status == ERROR_SUCCESS) {
        report.state = SignatureState::Valid;
        return report;
    }
    char text[32];
    wsprintfA(text, "WinVerifyTrust: 0x%08lX", static_cast<unsigned long>(status));
    report.detail = text;
    // Only these say the signature itself is fine and its signer is the matter.
    const bool signerOnly = status == CERT_E_UNTRUSTEDROOT || status == CERT_E_CHAINING ||
                            status == TRUST_E_EXPLICIT_DISTRUST || status == CERT_E_UNTRUSTEDTESTROOT ||
                            status == CERT_E_EXPIRED;
    report.state = signerOnly ? SignatureState::Untrusted : SignatureState::Invalid;
    return report;
}
