// The install options document: which check boxes the notification dialog
// offers. The document can only switch an option off.
#include "net/HttpUtil.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpRequest.h"
#include "sys/Util.h"

#include <pugixml.hpp>

#include <cstring>

namespace {

// "false" exactly, in an element that has content, switches the option off.
void ApplyOption(const pugi::xml_document& doc, const char* path, BYTE* flag)
{
    pugi::xml_node node = doc.first_element_by_path(path);
    if (!node || !node.first_child()) return;
    if (std::strcmp(node.first_child().value(), "false") == 0 && flag) *flag = 0;
}

}  // namespace

void CHttpUtil::GetInstallOption(BYTE* showStartPageAndSearch, BYTE* showUpdateWindow)
{
    std::string localPath = CUtil::GetStagingFolder() + "\\confSetup.xml";

    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[GetInstallOption] InternetOpen Failed, Error Code = %d");
    if (!internet) return;
    BOOL downloaded = DownloadFile(internet.get(), localPath.c_str(), INSTALL_OPTIONS_URL, TRUE, nullptr, nullptr, nullptr,
                                   kMaxOptionsBytes);
    internet.reset();
    if (!downloaded) {
        WriteLog(1, "[CHttpUtil::GetInstallOption] Donload XML file failed");
        return;
    }

    std::string document;
    if (!CUtil::ReadSmallFile(localPath, static_cast<DWORD>(kMaxOptionsBytes), document)) document.clear();
    if (!ReadInstallOption(document, showStartPageAndSearch, showUpdateWindow)) {
        RecordLastError(ERR_XML_PARSE, ::GetLastError());
        WriteLog(1, "[CHttpUtil::GetInstallOption] Invalid XML File (parse_file failed)");
        return;
    }
    WriteLog(1, "CUtil::ParseXMLArgument(%s)", localPath.c_str());
    ::DeleteFileA(localPath.c_str());
}

BOOL CHttpUtil::ReadInstallOption(const std::string& document, BYTE* showStartPageAndSearch, BYTE* showUpdateWindow)
{
    pugi::xml_document doc;
    if (!doc.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8)) return FALSE;
    ApplyOption(doc, "/OmbrixConf/showStartPageAndSearch/", showStartPageAndSearch);
    ApplyOption(doc, "/OmbrixConf/showUpdateWindow/", showUpdateWindow);
    return TRUE;
}
