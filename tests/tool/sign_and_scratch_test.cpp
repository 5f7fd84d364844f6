// The signing rules, the signer's deadline and the scratch files of wrapper-tool: signtool's
// rules are plain functions, so they are checked here for both signers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ExternalTool.h"
#include "platform/OutputFile.h"
#include "sign/SignerCommand.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

struct OptionsCase {
    const char* name;
    Signer signer;
    SignRequest request;
    const char* problem; // a part of the refusal, or null when accepted
};

SignRequest keyFrom(std::string pkcs12, std::string password = "", std::string cert = "", std::string key = "",
                    std::string thumbprint = "")
{
    SignRequest request;
    request.installer = "i";
    request.out = "o";
    request.pkcs12 = pkcs12;
    request.passwordEnv = password;
    request.cert = cert;
    request.key = key;
    request.thumbprint = thumbprint;
    return request;
}

SignRequest token(std::string module, std::string key, std::string cert, std::string pin = "")
{
    SignRequest request = keyFrom("", "", cert, key);
    request.pkcs11Module = module;
    request.pinEnv = pin;
    return request;
}

const std::string kKeyUri = "pkcs11:token=t;object=k;type=private";
const std::string kCertUri = "pkcs11:token=t;object=k;type=cert";

const std::string kThumbprint = "0123456789abcdef0123456789ABCDEF01234567";

TEST(SignOptions, EachSignerTakesOnlyWhatKeepsThePasswordOffCommandLines)
{
    const OptionsCase cases[] = {
        {"pkcs12 with password", Signer::Osslsigncode, keyFrom("k.p12", "PASS"), nullptr},
        {"pem pair", Signer::Osslsigncode, keyFrom("", "", "c.pem", "k.pem"), nullptr},
        {"thumbprint off Windows", Signer::Osslsigncode, keyFrom("", "", "", "", kThumbprint), "certificate store"},
        {"password on Windows", Signer::Signtool, keyFrom("k.p12", "PASS"), "--thumbprint"},
        {"pem on Windows", Signer::Signtool, keyFrom("", "", "c.pem", "k.pem"), "no PEM key"},
        {"store on Windows", Signer::Signtool, keyFrom("", "", "", "", kThumbprint), nullptr},
        {"unprotected pkcs12 on Windows", Signer::Signtool, keyFrom("k.p12"), nullptr},
        {"short thumbprint", Signer::Signtool, keyFrom("", "", "", "", "01234"), "40 hexadecimal"},
        {"two key sources", Signer::Osslsigncode, keyFrom("k.p12", "", "c.pem", "k.pem"), "give one of"},
        {"none", Signer::Osslsigncode, keyFrom(""), "give one of"},
        {"cert without key", Signer::Osslsigncode, keyFrom("", "", "c.pem"), "go together"},
        {"password without pkcs12", Signer::Osslsigncode, keyFrom("", "PASS", "c.pem", "k.pem"), "goes with"},
        {"token, certificate in it", Signer::Osslsigncode, token("p11.so", kKeyUri, kCertUri, "PIN"), nullptr},
        {"token, certificate file", Signer::Osslsigncode, token("p11.so", kKeyUri, "c.pem"), nullptr},
        {"token key that is a file", Signer::Osslsigncode, token("p11.so", "k.pem", "c.pem"), "--key pkcs11:"},
        {"URI without module", Signer::Osslsigncode, token("", kKeyUri, "c.pem"), "needs --pkcs11-module"},
        {"PIN without token", Signer::Osslsigncode, token("", "k.pem", "c.pem", "PIN"), "goes with --pkcs11"},
        {"token on Windows", Signer::Signtool, token("p11.dll", kKeyUri, kCertUri), "--thumbprint"},
    };
    for (const OptionsCase& c : cases) {
        const std::string problem = signOptionsProblem(c.request, c.signer);
        if (c.problem == nullptr)
            EXPECT_EQ(problem, "") << c.name;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
    }
}

TEST(SignOptions, CommandsReadThePasswordFromInputAndSignFromTheStore)
{
    SignRequest p12 = keyFrom("k.p12", "PASS");
    const auto ossl = signerCommand(p12, Signer::Osslsigncode, true, "in.exe", "tmp/signed.exe");
    const std::vector<std::string> expected = {"osslsigncode", "sign", "-h", "sha256", "-pkcs12", "k.p12",
                                               "-readpass", "-", "-in", "in.exe", "-out", "tmp/signed.exe"};
    EXPECT_EQ(ossl, expected);
    SignRequest store = keyFrom("", "", "", "", kThumbprint);
    store.timestamp = "http://tsa.example";
    const std::vector<std::string> signtool = {"signtool", "sign", "/fd", "sha256", "/sha1", kThumbprint,
                                               "/tr", "http://tsa.example", "/td", "sha256", "copy.exe"};
    EXPECT_EQ(signerCommand(store, Signer::Signtool, false, "in.exe", "copy.exe"), signtool);
    // The PIN takes the password's way in; the key is named, never read out.
    const std::vector<std::string> tokenCommand = {
        "osslsigncode", "sign", "-h", "sha256", "-pkcs11module", "p11.so", "-key", kKeyUri, "-pkcs11cert", kCertUri,
        "-readpass", "-", "-in", "in.exe", "-out", "o.exe"};
    EXPECT_EQ(signerCommand(token("p11.so", kKeyUri, kCertUri, "PIN"), Signer::Osslsigncode, true, "in.exe", "o.exe"),
              tokenCommand);
}

TEST(SignOptions, SignerReasonIsItsFirstOwnLine)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Failed to parse PKCS#12 file: t.p12 (Wrong password?)\nFailed to read key or certificates\n"
         "4030633C577F0000:error:11800071:PKCS12 routines:PKCS12_parse:mac verify failure:p12_kiss.c:71:\nFailed\n",
         "Failed to parse PKCS#12 file: t.p12 (Wrong password?)"},
        {"40F0:error:0200008A:rsa routines::invalid padding\r\nSignTool Error: No certificates were found.\r\n",
         "SignTool Error: No certificates were found."},
        {"Failed\n", ""},
        {"Engine \"pkcs11\" set.\nThe private key was not found at: pkcs11:object=k\nFailed\n",
         "The private key was not found at: pkcs11:object=k"},
        {"Engine \"pkcs11\" set.\nLogin failed\n40B0:error:430000A0:PKCS#11 module:ERR_CKR_error:PIN incorrect:p11_slot.c\n",
         "the token refused the PIN (PIN incorrect)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(signerReason(c.first), c.second);
}

// A deadline that is no number of seconds leaves the default in force
// rather than letting a signer run unbounded or be killed at once.
TEST(ProgramDeadline, OnlyAWholeNumberOfSecondsOverridesTheDefault)
{
    const struct {
        const char* value;
        unsigned seconds;
    } cases[] = {{"", kDefaultProgramSeconds},  {"5", 5},   {"0", kDefaultProgramSeconds},
                 {"-3", kDefaultProgramSeconds}, {"2s", kDefaultProgramSeconds},
                 {"86400", 86400},              {"86401", kDefaultProgramSeconds}};
    for (const auto& c : cases) {
#ifdef _WIN32
        _putenv_s("WRAPPER_PROGRAM_TIMEOUT", c.value);
#else
        setenv("WRAPPER_PROGRAM_TIMEOUT", c.value, 1);
#endif
        EXPECT_EQ(programDeadlineSeconds(), c.seconds) << "'" << c.value << "'";
    }
#ifdef _WIN32
    _putenv_s("WRAPPER_PROGRAM_TIMEOUT", "");
#else
    unsetenv("WRAPPER_PROGRAM_TIMEOUT");
#endif
}

TEST(ScratchFile, MessagesNameTheUsersFile)
{
    EXPECT_EQ(underUserName("cannot map 'o.exe.tmp7': No space left on device, 'o.exe.tmp7'", "o.exe.tmp7", "o.exe"),
              "cannot map 'o.exe': No space left on device, 'o.exe'");
    EXPECT_EQ(underUserName("unrelated", "", "o.exe"), "unrelated");
}

#ifndef _WIN32
TEST(ScratchFile, APlantedLinkAtTheScratchNameIsNotFollowed)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("scratch-test-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string out = (folder / "out.exe").string();
    const std::string victim = (folder / "victim.txt").string();
    std::ofstream(victim) << "keep me";
    const std::string planted = out + ".tmp" + std::to_string(getpid());
    fs::create_symlink(victim, planted);

    std::string scratch, error;
    std::FILE* file = createScratchBeside(out, ".tmp", scratch, error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_NE(scratch, planted);
    std::fputs("scratch", file);
    std::fclose(file);
    std::string kept;
    std::getline(std::ifstream(victim), kept);
    EXPECT_EQ(kept, "keep me");
    EXPECT_TRUE(fs::is_symlink(planted));

    // A folder that cannot be written: the error names the output and the reason.
    EXPECT_EQ(createScratchBeside((folder / "missing" / "out.exe").string(), ".tmp", scratch, error), nullptr);
    EXPECT_NE(error.find("missing/out.exe"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    fs::remove_all(folder);
}
#endif

} // namespace
