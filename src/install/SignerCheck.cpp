#include "install/SignerCheck.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "catalogue/CatalogueSignature.h"
#include "install/Staging.h"
#include "sys/CodeSignature.h"

#include <cstring>

namespace {

DWORD ErrorOf(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Unsigned: return ERR_SIGNER_UNSIGNED;
    case SignatureVerdict::Tampered: return ERR_SIGNER_TAMPERED;
    case SignatureVerdict::NotValid: return ERR_SIGNER_NOT_VALID;
    default: return ERR_SIGNER_NOT_PINNED;
    }
}

}  // namespace

SignerPins BuiltInSignerPins()
{
    SignerPins pins;
    for (int i = 0; i < ZELTO_SIGNER_PIN_COUNT; ++i) {
        CSignerPin pin;
        pin.spkiSha256 = ZELTO_SIGNER_PINS[i];
        pins.push_back(pin);
    }
    return pins;
}

bool IsExecutableName(const std::string& name)
{
    static const char* const kinds[] = {".dll", ".ocx", ".exe", ".sys", ".cpl", ".scr", ".drv", ".ax", ".com", ".efi"};
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.find_first_of("\\/", dot) != std::string::npos) return false;
    const std::string extension = name.substr(dot);
    for (const char* kind : kinds)
        if (lstrcmpiA(extension.c_str(), kind) == 0) return true;
    return false;
}

BOOL CheckSigner(const char* path, const SignerPins& itemPins, const SignerPins& builtInPins)
{
    if (itemPins.empty() && builtInPins.empty()) return TRUE;
    const DWORD started = ::GetTickCount();
    CCodeSignature signature(path);
    // The program's own pins first: a catalogue cannot loosen them.
    const struct { const SignerPins* pins; const char* whose; } sets[] = {
        {&builtInPins, "the program's pins"}, {&itemPins, "the item's SIGNER pins"}};
    for (const auto& set : sets) {
        if (set.pins->empty()) continue;
        LONG status = 0;
        std::string reason;
        const SignatureVerdict verdict = signature.Matches(*set.pins, status, reason);
        if (verdict == SignatureVerdict::Trusted) continue;
        WriteLog(1, "[CheckSigner] %s refused by %s: signer \"%s\": %s (0x%08lx)", path, set.whose,
                 signature.Subject().empty() ? "none" : signature.Subject().c_str(), reason.c_str(),
                 static_cast<unsigned long>(status));
        if (!signature.TimestampProblem().empty())
            WriteLog(1, "[CheckSigner] %s: timestamp passed over: %s", path, signature.TimestampProblem().c_str());
        RecordLastError(ErrorOf(verdict), static_cast<DWORD>(status));
        return FALSE;
    }
    WriteLog(2, "[CheckSigner] %s signed by \"%s\" (%s), %lu ms", path, signature.Subject().c_str(),
             signature.Timestamped() ? "timestamped" : "judged at the present time",
             static_cast<unsigned long>(::GetTickCount() - started));
    return TRUE;
}

BOOL CheckItemSigners(const CUpdateSet& item)
{
    const SignerPins builtIn = BuiltInSignerPins();
    if (item.m_arrSignerPin.empty() && builtIn.empty()) return TRUE;
    BOOL ok = TRUE;
    for (const auto& file : item.m_arrUpdateFile) {
        const std::string staged = UnpackedPath(*file);
        if (!IsExecutableName(file->m_szName) && !IsPortableExecutable(staged.c_str())) continue;
        if (!CheckSigner(staged.c_str(), file->m_arrSignerPin, builtIn)) ok = FALSE;
    }
    return ok;
}
