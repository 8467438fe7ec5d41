// Who may sign a component (publisher pins), and what a check of a code
// signature concludes.
#pragma once

#include <string>
#include <vector>

// A publisher allowed to sign: the SHA-256 (64 lower-case hexadecimal
// digits) of the SubjectPublicKeyInfo of an authority or a leaf certificate
// in the signer's chain, and, when not empty, the signer's own subject (the
// common name of the signing certificate).
struct CSignerPin {
    std::string spkiSha256;
    std::string subject;
};

// A set of pins of which one must match ("any of").
using SignerPins = std::vector<CSignerPin>;

enum class SignatureVerdict {
    Trusted,     // signed, and the chain reaches a pinned certificate
    Unsigned,    // no signature, or no file the system can read a signature of
    Tampered,    // the bytes or the signature do not verify
    NotPinned,   // signed by a chain that reaches no pinned certificate (or another subject)
    NotValid,    // the chain reaches a pin but a certificate of it was not valid at the signing time
};
