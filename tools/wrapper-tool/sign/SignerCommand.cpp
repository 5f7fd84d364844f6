#include "sign/SignerCommand.h"

#include <cctype>

#include "platform/ExternalTool.h"

const char* signerName(Signer signer)
{
    return signer == Signer::Signtool ? "signtool" : "osslsigncode";
}

namespace {

bool isSha1Hex(const std::string& text)
{
    if (text.size() != 40)
        return false;
    for (unsigned char c : text)
        if (!std::isxdigit(c))
            return false;
    return true;
}

// A token's own words for a PIN it refused, as libp11 passes them on.
const char* const kPinRefusals[] = {"PIN incorrect", "PIN locked", "PIN len range", "PIN expired"};

} // namespace

bool isPkcs11Uri(const std::string& text)
{
    return text.compare(0, 7, "pkcs11:") == 0;
}

std::string signOptionsProblem(const SignRequest& request, Signer signer)
{
    const int sources = int(!request.pkcs12.empty()) + int(!request.cert.empty() || !request.key.empty()) +
                        int(!request.thumbprint.empty());
    if (sources != 1)
        return "give one of --pkcs12 FILE, --cert FILE --key FILE, --pkcs11-module LIB --key URI --cert FILE|URI "
               "or --thumbprint SHA1";
    if (request.cert.empty() != request.key.empty())
        return "--cert and --key go together";
    if (!request.passwordEnv.empty() && request.pkcs12.empty())
        return "--password-env goes with --pkcs12";
    if (!request.pinEnv.empty() && request.pkcs11Module.empty())
        return "--pin-env goes with --pkcs11-module";
    if (!request.pkcs11Module.empty() && signer == Signer::Signtool)
        return "--pkcs11-module is not used on Windows: a token's certificate is in your certificate store "
               "through its minidriver; sign with --thumbprint SHA1";
    if (!request.pkcs11Module.empty() && (request.key.empty() || !isPkcs11Uri(request.key)))
        return "--pkcs11-module signs with a key in the token: give --key pkcs11:URI and --cert FILE or pkcs11:URI";
    if (request.pkcs11Module.empty() && (isPkcs11Uri(request.key) || isPkcs11Uri(request.cert)))
        return "a pkcs11: URI needs --pkcs11-module LIB, the token's PKCS#11 library";
    if (!request.thumbprint.empty() && !isSha1Hex(request.thumbprint))
        return "--thumbprint takes the certificate's SHA-1 thumbprint, 40 hexadecimal digits";
    if (signer == Signer::Signtool) {
        if (!request.passwordEnv.empty())
            return "--password-env is refused on Windows: signtool would get the password on its command "
                   "line; import the certificate into your store and sign with --thumbprint SHA1";
        if (!request.cert.empty())
            return "signtool takes no PEM key: use --thumbprint SHA1 or --pkcs12 FILE";
    } else if (!request.thumbprint.empty()) {
        return "--thumbprint signs from the Windows certificate store: here use --pkcs12 FILE or "
               "--cert FILE --key FILE";
    }
    return std::string();
}

std::vector<std::string> signerCommand(const SignRequest& request, Signer signer, bool secretOnInput,
                                       const std::string& input, const std::string& target)
{
    std::vector<std::string> command;
    if (signer == Signer::Signtool) {
        command = {"signtool", "sign", "/fd", "sha256"};
        if (!request.thumbprint.empty())
            command.insert(command.end(), {"/sha1", request.thumbprint});
        else
            command.insert(command.end(), {"/f", request.pkcs12});
        if (!request.timestamp.empty())
            command.insert(command.end(), {"/tr", request.timestamp, "/td", "sha256"});
        command.push_back(target);
        return command;
    }
    command = {"osslsigncode", "sign", "-h", "sha256"};
    if (!request.pkcs12.empty()) {
        command.insert(command.end(), {"-pkcs12", request.pkcs12});
    } else if (!request.pkcs11Module.empty()) {
        // libp11's engine, which osslsigncode loads, signs inside the token.
        command.insert(command.end(), {"-pkcs11module", request.pkcs11Module, "-key", request.key});
        command.insert(command.end(), {isPkcs11Uri(request.cert) ? "-pkcs11cert" : "-certs", request.cert});
    } else {
        command.insert(command.end(), {"-certs", request.cert, "-key", request.key});
    }
    // One way in for every secret: the pipe on its standard input.
    if (secretOnInput)
        command.insert(command.end(), {"-readpass", "-"});
    if (!request.timestamp.empty())
        command.insert(command.end(), {"-ts", request.timestamp});
    command.insert(command.end(), {"-in", input, "-out", target});
    return command;
}

std::string signerReason(const std::string& output)
{
    for (const char* refusal : kPinRefusals)
        if (output.find(refusal) != std::string::npos)
            return std::string("the token refused the PIN (") + refusal + ")";
    for (std::string line : outputLines(output)) {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        // OpenSSL's queue ("40F0...:error:...") repeats the reason in its own terms.
        // "Engine "pkcs11" set." only says which engine it loaded.
        if (line.empty() || line.find(":error:") != std::string::npos || line == "Failed" ||
            line.compare(0, 8, "Engine \"") == 0)
            continue;
        return line;
    }
    return std::string();
}
