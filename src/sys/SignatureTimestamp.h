// The RFC 3161 timestamp of a code signature: the time a time-stamping
// authority vouched that the signature existed, so that the signature stays
// valid after its certificate expires.
#pragma once

#include "sys/SignerPin.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

// Reads the timestamp among signer's unauthenticated attributes and checks
// it: the authority's signature over it, its imprint of the signature's own
// encrypted digest, and the authority's chain at that time (time-stamping
// usage) to a pinned certificate or to the machine's trusted roots. True with
// when set when it holds; false with why ("" when there is no timestamp).
bool VerifiedTimestamp(const CMSG_SIGNER_INFO& signer, const SignerPins& pins, FILETIME& when, std::string& why);

// The genTime of a DER TSTInfo whose message imprint is imprint (hashed with
// the algorithm named in it, one of SHA-1, SHA-256, SHA-384, SHA-512); false
// when it does not parse or the imprint differs. Exposed for the tests.
bool ReadTstInfo(const BYTE* der, DWORD size, const BYTE* signatureValue, DWORD signatureSize, FILETIME& when,
                 std::string& why);
