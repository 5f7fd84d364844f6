#pragma once
#include <string>

#include "inspect/Json.h"
#include "sign/SignatureCheck.h"

class InstallerView;

// verify's signature lines: the state, and who signed with their
// thumbprints, signing time and timestamp when the table could be read.
void printSignature(const InstallerView& view, const SignatureReport& report);

// The signer as a JSON object, or null when unsigned or unreadable.
JsonDocument signerJson(const SignatureReport& report);

// A timestamp as a JSON object (kind, authority, verified, time only when
// verified, problem), or null when there is none.
JsonDocument timestampJson(const TimestampDetails& stamp);

// The nested signatures, each with its own state and signer: an array,
// empty when there are none.
JsonDocument nestedSignaturesJson(const SignatureReport& report);
