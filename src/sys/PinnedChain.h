// A certificate's chain judged against pinned public keys: built by the
// program with the pinned certificates as the only trust anchors, never the
// machine's root store, and without network access.
#pragma once

#include "sys/SignerPin.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

// The chain of certificate (its issuers looked up in extra, the certificates
// a signature carries) at the time at, for usage (an extended key usage OID,
// or null for none). Trusted when one of its certificates, from the
// certificate itself upwards, has a pinned SubjectPublicKeyInfo (and, where
// the pin names one, the subject of the certificate itself), and no
// certificate up to that one has a fault (time, signature, constraints,
// usage, revocation known from the cache); the certificates above a pinned
// one do not count. Otherwise status and reason say why.
SignatureVerdict JudgePinnedChain(PCCERT_CONTEXT certificate, HCERTSTORE extra, const SignerPins& pins,
                                  const FILETIME& at, LPCSTR usage, LONG& status, std::string& reason);

// The SHA-256 of a certificate's SubjectPublicKeyInfo (64 lower-case
// hexadecimal digits); "" on failure.
std::string SpkiSha256(PCCERT_CONTEXT certificate);

// The common name of a certificate ("" when it has none).
std::string CertificateName(PCCERT_CONTEXT certificate);
