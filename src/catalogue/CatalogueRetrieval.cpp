// Fetching the run mode's catalogue from the content server, reading it into
// the model and deleting it.
#include "catalogue/UpdateInfoMgr.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "base/Messages.h"
#include "base/Handles.h"
#include "base/Strings.h"
#include "catalogue/CatalogueFreshness.h"
#include "catalogue/CatalogueSignature.h"
#include "catalogue/CatalogueValues.h"
#include "catalogue/KeyChain.h"
#include "catalogue/Rollout.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "net/ResultReport.h"
#include "sys/Util.h"

#include "resource.h"

#include <pugixml.hpp>

namespace {

std::string CatalogueFilePath()
{
    return CUtil::GetStagingFolder() + "\\ZeltoSetup.xml";
}

}  // namespace

BOOL CUpdateInfoMgr::LoadUpdateList()
{
    return FinishLoading(FetchCatalogue());
}

UINT CUpdateInfoMgr::FetchCatalogue()
{
    if (!DownloadFileList()) return IDS_CATALOGUE_DOWNLOAD_FAILED;
    UpdateCatalogueKeys();   // never ends the run: the held keys stay
    return CheckCatalogueSignature() ? 0 : IDS_CATALOGUE_INVALID;
}

BOOL CUpdateInfoMgr::FinishLoading(UINT message)
{
    if (message == 0 && CreateUpdateList()) return TRUE;
    ShowMessage(message ? message : IDS_CATALOGUE_INVALID, LastErrorSuffix());
    PostStatus(STATUS_FAILED, 0);
    return FALSE;
}

BOOL CUpdateInfoMgr::DownloadFileList()
{
    WriteLog(2, "CUpdateInfoMgr::DownloadFileList");
    PostStatus(STATUS_CATALOGUE_DOWNLOAD, 0);
    m_catalogue.clear();

    if (!CUtil::PrepareStagingFolder()) return FALSE;
    const std::string path = CatalogueFilePath();
    ::DeleteFileA(path.c_str());
    WriteLog(2, "[DownloadIniFile] Download File %s -> %s", m_strSourceURL.c_str(), path.c_str());

    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[DownloadFileList] InternetOpen Failed, Error Code = %d");
    if (!internet) return FALSE;
    BOOL ok = CHttpUtil::DownloadFile(internet.get(), path.c_str(), m_strSourceURL.c_str(), TRUE, nullptr, m_hCancel,
                                      nullptr, CHttpUtil::kMaxCatalogueBytes);
    internet.reset();
    // Read once, at once: what is verified and read later are these bytes,
    // never the file again (it stays only until the reading succeeds, for
    // whoever looks into a catalogue that did not parse).
    if (ok && !CUtil::ReadSmallFile(path, static_cast<DWORD>(CHttpUtil::kMaxCatalogueBytes), m_catalogue)) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_LOCAL_FILE, error);
        WriteLog(1, "[DownloadFileList] %s cannot be read, Error Code = %d", path.c_str(), error);
        ::DeleteFileA(path.c_str());
        ok = FALSE;
    }
    if (ok) WriteLog(2, "[DownloadIniFile] Download File ( %s ) Succeed!", m_strSourceURL.c_str());
    else WriteLog(1, "[DownloadIniFile] Download File ( %s ) Failed!", m_strSourceURL.c_str());
    return ok;
}

namespace {

// ".../Repository/keys/<version>.xml" beside the catalogue
// ".../Repository/<MODE>/<MODE>.xml".
std::string KeysDocumentUrl(const std::string& catalogueUrl, unsigned version)
{
    size_t slash = catalogueUrl.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return std::string();
    slash = catalogueUrl.find_last_of('/', slash - 1);
    if (slash == std::string::npos) return std::string();
    return catalogueUrl.substr(0, slash + 1) + "keys/" + std::to_string(version) + ".xml";
}

// A whole small file fetched into the staging folder and read; "" and false on failure.
bool FetchSmall(HINTERNET internet, const std::string& url, const std::string& path, ULONGLONG bound, HANDLE cancel,
                std::string& text)
{
    ::DeleteFileA(path.c_str());
    const bool ok = CHttpUtil::DownloadFile(internet, path.c_str(), url.c_str(), TRUE, nullptr, cancel, nullptr, bound) &&
                    CUtil::ReadSmallFile(path, static_cast<DWORD>(bound), text);
    ::DeleteFileA(path.c_str());
    return ok;
}

}  // namespace

void CUpdateInfoMgr::UpdateCatalogueKeys()
{
    KeySet held = HeldKeySet();
    if (held.roots.empty()) return;   // a build without root keys trusts its own catalogue keys only
    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[UpdateCatalogueKeys] InternetOpen Failed, Error Code = %d");
    if (!internet) return;
    const LastErrorPair before = LastError;
    // Link by link: each version must be signed by the roots of the one before.
    for (int step = 0; step < kMaxKeysDocumentsPerRun; ++step) {
        const std::string url = KeysDocumentUrl(m_strSourceURL, held.version + 1);
        if (url.empty()) return;
        std::string document, signatures;
        if (!FetchSmall(internet.get(), url, CatalogueFilePath() + ".keys", kMaxKeysDocumentBytes, m_hCancel, document)) {
            // None newer (the usual answer, 404) or none to be had now: the held keys stay.
            WriteLog(2, "[UpdateCatalogueKeys] %s: none newer than version %u", url.c_str(), held.version);
            RecordLastError(before.dwAppError, before.dwSysError);
            return;
        }
        std::string why;
        DWORD refusal = 0;
        KeySet next;
        if (!FetchSmall(internet.get(), url + ".sig", CatalogueFilePath() + ".keys.sig", kMaxKeysDocumentBytes,
                        m_hCancel, signatures)) {
            refusal = ERR_KEYS_UNREADABLE;
            why = "its signatures could not be fetched";
        } else {
            FILETIME now;
            ::GetSystemTimeAsFileTime(&now);
            refusal = JudgeKeysDocument(held, document, signatures,
                                        (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime, next,
                                        why);
        }
        if (refusal) {
            RecordLastError(refusal, 0);
            WriteLog(1, "[UpdateCatalogueKeys] %s refused (Error Code = %u): %s; the held keys (version %u) stay",
                     url.c_str(), static_cast<unsigned>(refusal), why.c_str(), held.version);
            return;
        }
        if (!StoreKeySet(next)) return;
        WriteLog(1, "[UpdateCatalogueKeys] %s: keys version %u held from now on (%d catalogue key(s), %d revoked)",
                 url.c_str(), next.version, static_cast<int>(ActiveCatalogueKeys(next).size()),
                 static_cast<int>(next.revoked.size()));
        if (ActiveCatalogueKeyIds(next) != ActiveCatalogueKeyIds(held)) ResetAcceptedSerials();
        held = next;
    }
}

BOOL CUpdateInfoMgr::CheckCatalogueSignature()
{
    if (!CatalogueSignatureRequired()) return TRUE;
    const std::string signaturePath = CatalogueFilePath() + ".sig";
    const std::string signatureUrl = m_strSourceURL + ".sig";
    // Nothing of the catalogue is read or applied before it verifies.
    auto refuse = [&](const char* why, DWORD error) {
        RecordLastError(ERR_BAD_SIGNATURE, error);
        WriteLog(1, "[CheckCatalogueSignature] %s: %s", signatureUrl.c_str(), why);
        m_catalogue.clear();
        ::DeleteFileA(CatalogueFilePath().c_str());
        ::DeleteFileA(signaturePath.c_str());
        return FALSE;
    };
    ::DeleteFileA(signaturePath.c_str());
    {
        // Fetched right after the catalogue, with the same check and request,
        // so that no cache pairs a fresh catalogue with an old signature.
        zelto::ScopedInternet internet =
            zelto::OpenInternetLogged("[CheckCatalogueSignature] InternetOpen Failed, Error Code = %d");
        if (!internet) return refuse("no Internet handle", LastError.dwSysError);
        if (!CHttpUtil::DownloadFile(internet.get(), signaturePath.c_str(), signatureUrl.c_str(), TRUE, nullptr, m_hCancel,
                                     nullptr, CHttpUtil::kMaxSignatureBytes))
            return refuse("the signature could not be fetched", LastError.dwSysError);
    }
    std::string signature;
    if (!CUtil::ReadSmallFile(signaturePath, static_cast<DWORD>(CHttpUtil::kMaxSignatureBytes), signature))
        return refuse("the signature cannot be read", ::GetLastError());
    ::DeleteFileA(signaturePath.c_str());
    std::string why;
    unsigned long error = 0;
    const KeySet keys = HeldKeySet();
    if (!VerifyCatalogueSignature(m_catalogue, signature, ActiveCatalogueKeys(keys), why, error)) {
        // Named for the operator: a key the held keys revoked.
        std::vector<std::string> revoked;
        for (const std::string& pem : keys.catalogueKeys)
            if (keys.revoked.count(KeyId(pem))) revoked.push_back(pem);
        for (const std::string& pem : BuiltInCatalogueKeys())
            if (keys.revoked.count(KeyId(pem))) revoked.push_back(pem);
        std::string ignored;
        unsigned long ignoredError = 0;
        if (!revoked.empty() && VerifyCatalogueSignature(m_catalogue, signature, revoked, ignored, ignoredError))
            why = "signed by a revoked key (keys version " + std::to_string(keys.version) + ")";
        return refuse(why.c_str(), error);
    }
    WriteLog(2, "[CheckCatalogueSignature] %s verified", signatureUrl.c_str());
    return TRUE;
}

BOOL CUpdateInfoMgr::CheckCatalogueFreshness(const pugi::xml_node& root, ULONGLONG& serial)
{
    const CatalogueBinding binding = ReadCatalogueBinding(root);
    ULONGLONG highest = 0;
    const bool hasHighest = ReadAcceptedSerial(m_strMode, highest);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    std::string why;
    const DWORD refusal = JudgeCatalogueBinding(binding, m_strMode, hasHighest, highest,
                                                (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime,
                                                why);
    if (refusal) {
        RecordLastError(refusal, 0);
        WriteLog(1, "[CheckCatalogueFreshness] %s refused: %s", m_strSourceURL.c_str(), why.c_str());
        return FALSE;
    }
    serial = binding.serial;
    return TRUE;
}

namespace {

// The list's REPORT: where each item's result goes, and the share reported.
void ReadReportElement(const pugi::xml_node& list, bool secure)
{
    pugi::xml_node report = list.child("REPORT");
    if (!report) {
        CResultReports::Configure(std::string(), 0);
        return;
    }
    pugi::xml_attribute rate = report.attribute("RATE");
    const int hundredths = rate ? ParsePercent(rate.value()) : kFullStage;
    if (hundredths < 0) WriteLog(1, "[CreateUpdateList] REPORT RATE \"%s\" is no percentage: no result is reported",
                                 rate.value());
    CResultReports::Configure(catalogue::Text(report), hundredths < 0 ? 0 : hundredths, secure);
}

}  // namespace

BOOL CUpdateInfoMgr::CreateUpdateList()
{
    WriteLog(2, "CUpdateInfoMgr::CreateUpdateList");
    PostStatus(STATUS_CATALOGUE_READ, 0);

    pugi::xml_document doc;
    const bool parsed = doc.load_buffer(m_catalogue.data(), m_catalogue.size(), pugi::parse_default,
                                        pugi::encoding_utf8);
    m_catalogue.clear();
    m_catalogue.shrink_to_fit();
    if (!parsed) {
        RecordLastError(ERR_XML_PARSE, ::GetLastError());
        WriteLog(1, "[CreateUpdateList] Invalid XML File (parse_file failed)");
        return FALSE;
    }
    // A signed catalogue must also be the newest, unexpired one of this mode.
    ULONGLONG serial = 0;
    if (CatalogueSignatureRequired() && !CheckCatalogueFreshness(doc.document_element(), serial)) {
        ::DeleteFileA(CatalogueFilePath().c_str());
        return FALSE;
    }
    pugi::xml_node list = doc.first_element_by_path("/ZELTOOMBRIX/UPDATELIST/");
    if (!list) {
        WriteLog(1, "[CreateUpdateList] Invalid XML File (UPDATELIST do not exist)");
        return FALSE;
    }
    ReadReportElement(list, zelto::IsHttpsUrl(m_strSourceURL));
    for (pugi::xml_node element = list.first_child(); element; element = element.next_sibling()) {
        if (element.type() != pugi::node_element || std::string(element.name()) != "UPDATEITEM") continue;
        auto item = std::make_unique<CUpdateSet>();
        if (!IsModeMatch(element, m_strMode.c_str())) continue;
        // The name is the item's record key under the program's uninstall
        // entry: an empty one would be the entry itself, a "\" another key.
        const std::string itemName = element.attribute("NAME").value();
        if (itemName.empty() || itemName.find('\\') != std::string::npos) {
            WriteLog(1, "[CreateUpdateList] Invalid Item Name (ItemName = %s)", itemName.c_str());
            continue;
        }
        item->ReadUpdateItem(element);
        WriteLog(2, "[CreateUpdateList] UpdateItem = %s", item->m_strName.c_str());
        m_listUpdateSet.push_back(std::move(item));
    }
    ::DeleteFileA(CatalogueFilePath().c_str());
    if (CatalogueSignatureRequired()) RecordAcceptedSerial(m_strMode, serial);
    return TRUE;
}
