#include "net/StatSender.h"

#include "base/Log.h"
#include "net/HttpUtil.h"
#include "sys/RegKey.h"

#include <ZeltoConfig.h>

#include <string>

namespace {

const char* ResultWord(BOOL ok)
{
    return ok ? "SUCCESS" : "FAILED";
}

}  // namespace

void CStatSender::SendStartPageCount()
{
    const char* url = ZELTO_CLICK_URL "?a=gin.mkhome&r=&i=&nsc=ombrix.all&m=0&u=about%3Ablank";
    BOOL ok = CHttpUtil::RequestURL(url);
    WriteLog(1, "[CStatSender::SendStartPageCount] Send URL : [%s] %s", url, ResultWord(ok));
}

void CStatSender::SendSearchEngineCount()
{
    const char* url = ZELTO_CLICK_URL "?a=gin.mksearch&r=&i=&nsc=ombrix.all&m=0&u=about%3Ablank";
    BOOL ok = CHttpUtil::RequestURL(url);
    WriteLog(1, "[CStatSender::SendSearchEngineCount] Send URL : [%s] %s", url, ResultWord(ok));
}

void CStatSender::SendBeforeStartPage()
{
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", ZELTO_KEY_READ) != ERROR_SUCCESS)
        return;
    char startPage[2083];
    DWORD size = sizeof(startPage);
    if (key.QueryStringValue("Start Page", startPage, &size) != ERROR_SUCCESS) {
        WriteLog(1, "[CStatSender::SendBeforeStartPage] Can`t get registry value about Start Page");
        return;
    }
    std::string domain = CHttpUtil::ExtractDomainFromURL(startPage);
    if (domain.empty()) WriteLog(1, "[CStatSender::SendBeforeStartPage] ExtractDomainFromURL ERROR = %s", startPage);
    std::string url = std::string(ZELTO_LOGRD_URL) + domain;
    BOOL ok = CHttpUtil::RequestURL(url.c_str());
    WriteLog(1, "[CStatSender::SendBeforeStartPage] Send URL : [%s] %s", url.c_str(), ResultWord(ok));
}

void CStatSender::SendModuleInstallCount(const std::string& tag)
{
    if (tag.empty()) return;
    BOOL ok = CHttpUtil::RequestURL(tag.c_str());
    WriteLog(1, "[CStatSender::SendModuleInstallCount] Send URL : [%s] %s", tag.c_str(), ResultWord(ok));
}
