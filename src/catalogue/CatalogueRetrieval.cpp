// Fetching the run mode's catalogue from the content server, reading it into
// the model and deleting it.
#include "catalogue/UpdateInfoMgr.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "base/Messages.h"
#include "base/Strings.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "sys/Util.h"

#include "resource.h"

#include <pugixml.hpp>

namespace {

std::string CatalogueFilePath()
{
    // The staging folder as the system reports it (with its trailing
    // backslash) + "\" + the name: the doubled backslash is accepted.
    return std::string(CUtil::Folders().szTemp) + "\\ZeltoSetup.xml";
}

}  // namespace

BOOL CUpdateInfoMgr::LoadUpdateList()
{
    UINT message = 0;
    if (!DownloadFileList()) message = IDS_CATALOGUE_DOWNLOAD_FAILED;
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

    const char* staging = CUtil::Folders().szTemp;
    if (!CUtil::CreateRecursiveDirectory(staging)) {
        WriteLog(1, "[DownloadFileList] CUtil::CreateRecursiveDirectory(%s) Failed, Error Code = %d", staging,
                 LastError.dwSysError);
        return FALSE;
    }
    const std::string path = CatalogueFilePath();
    ::DeleteFileA(path.c_str());
    WriteLog(2, "[DownloadIniFile] Download File %s -> %s", m_strSourceURL.c_str(), path.c_str());

    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[DownloadFileList] InternetOpen Failed, Error Code = %d");
    if (!internet) return FALSE;
    BOOL ok = CHttpUtil::DownloadFile(internet.get(), path.c_str(), m_strSourceURL.c_str(), TRUE, nullptr, nullptr);
    internet.reset();
    if (ok) WriteLog(2, "[DownloadIniFile] Download File ( %s ) Succeed!", m_strSourceURL.c_str());
    else WriteLog(1, "[DownloadIniFile] Download File ( %s ) Failed!", m_strSourceURL.c_str());
    return ok;
}

BOOL CUpdateInfoMgr::CreateUpdateList()
{
    WriteLog(2, "CUpdateInfoMgr::CreateUpdateList");
    PostStatus(STATUS_CATALOGUE_READ, 0);

    const std::string path = CatalogueFilePath();
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_utf8)) {
        RecordLastError(ERR_XML_PARSE, ::GetLastError());
        WriteLog(1, "[CreateUpdateList] Invalid XML File (parse_file failed)");
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
    ::DeleteFileA(path.c_str());
    return TRUE;
}
