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
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
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
    UINT message = 0;
    if (!DownloadFileList()) message = IDS_CATALOGUE_DOWNLOAD_FAILED;
    else if (!CheckCatalogueSignature()) message = IDS_CATALOGUE_INVALID;
    else if (CreateUpdateList()) return TRUE;
    else message = IDS_CATALOGUE_INVALID;

    ShowMessage(message, LastErrorSuffix());
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
    BOOL ok = CHttpUtil::DownloadFile(internet.get(), path.c_str(), m_strSourceURL.c_str(), TRUE, nullptr, nullptr,
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
        if (!CHttpUtil::DownloadFile(internet.get(), signaturePath.c_str(), signatureUrl.c_str(), TRUE, nullptr, nullptr,
                                     nullptr, CHttpUtil::kMaxSignatureBytes))
            return refuse("the signature could not be fetched", LastError.dwSysError);
    }
    std::string signature;
    if (!CUtil::ReadSmallFile(signaturePath, static_cast<DWORD>(CHttpUtil::kMaxSignatureBytes), signature))
        return refuse("the signature cannot be read", ::GetLastError());
    ::DeleteFileA(signaturePath.c_str());
    std::string why;
    unsigned long error = 0;
    if (!VerifyCatalogueSignature(m_catalogue, signature, BuiltInCatalogueKeys(), why, error))
        return refuse(why.c_str(), error);
    WriteLog(2, "[CheckCatalogueSignature] %s verified", signatureUrl.c_str());
    return TRUE;
}

BOOL CUpdateInfoMgr::CheckCatalogueFreshness(const pugi::xml_node& root, ULONGLONG& serial)
{
    const CatalogueBinding binding = ReadCatalogueBinding(root);
    ULONGLONG highest = 0;
    const bool hasHighest = ReadAcceptedSerial(m_strSourceURL, highest);
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
    if (CatalogueSignatureRequired()) RecordAcceptedSerial(m_strSourceURL, serial);
    return TRUE;
}
