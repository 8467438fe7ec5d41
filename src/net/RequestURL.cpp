// The fire-and-check GET of the statistics pings.
#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpRequest.h"

BOOL CHttpUtil::RequestURL(const char* url)
{
    if (!url || !url[0]) return FALSE;

    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[RequestURL] InternetOpen Failed, Error Code = %d");
    if (!internet) return FALSE;
    zelto::ScopedInternet request = zelto::OpenUrlLogged(internet.get(), url, "Referer:client://ombrix",
                                                         "[RequestURL] InternetOpenUrl(%s) Failed (Error Code = %d)");
    if (!request) return FALSE;
    // The status line carries the download tag.
    return zelto::IsStatusOk(request.get(), url, "[DownloadFile] HttpQueryInfo(%s) = %d ");
}
