// The code signature (Authenticode) of a component file, checked against the
// publishers pinned for it: the signature must cover the file's bytes, and
// the signer's certificate chain, built by the program with a pinned
// certificate as its only trust anchor, must hold at the signing time.
#pragma once

#include "base/Handles.h"
#include "sys/SignerPin.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

// What WinVerifyTrust's result says of a signature, before the program's
// own chain decides: Unsigned, Tampered, or Trusted (signature and digest
// verified; only the machine's trust in the chain, which the program does
// not use, may have refused it, where the provider's steps say the digest
// and the signature verified). Exposed for the tests.
SignatureVerdict ClassifyVerifyResult(LONG result, bool providerData, bool digestAndSignatureVerified);

// True when the file's bytes are a PE image (an "MZ" header whose e_lfanew
// points at "PE\0\0"), whatever its name.
bool IsPortableExecutable(const char* path);

class CCodeSignature {
public:
    // Verifies the file's signature and digest (WinVerifyTrust, no network:
    // revocation only from what the system has cached).
    explicit CCodeSignature(const char* path);
    ~CCodeSignature();
    CCodeSignature(const CCodeSignature&) = delete;
    CCodeSignature& operator=(const CCodeSignature&) = delete;

    // Unsigned or Tampered when the signature itself failed; Trusted otherwise
    // (its chain not judged yet).
    SignatureVerdict Verdict() const { return m_verdict; }
    // The failing call's result (HRESULT), 0 when none failed.
    LONG Status() const { return m_status; }
    // The signing certificate's common name; "" when unsigned.
    const std::string& Subject() const { return m_subject; }
    // Whether the last Matches judged the chain at a verified timestamp's
    // time (else at the present time), and why a timestamp was passed over.
    bool Timestamped() const { return m_bTimestamped; }
    const std::string& TimestampProblem() const { return m_timestampProblem; }

    // Judges the signer's chain against one set of pins; status receives the
    // failing result, reason a short text for the log.
    SignatureVerdict Matches(const SignerPins& pins, LONG& status, std::string& reason) const;

private:
    void ReadSigner(void* providerData);

    SignatureVerdict m_verdict = SignatureVerdict::Unsigned;
    LONG m_status = 0;
    std::string m_subject;
    FILETIME m_signingTime = {};          // when the signature was checked
    mutable bool m_bTimestamped = false;
    mutable std::string m_timestampProblem;
    std::wstring m_wPath;
    zelto::ScopedCertContext m_pSigner;   // the signing certificate
    zelto::ScopedCertStore m_hMessageStore;   // the certificates the signature carries
    std::vector<BYTE> m_signerInfo;       // its CMSG_SIGNER_INFO (for the timestamp)
};
