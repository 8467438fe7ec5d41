#include "install/RunningPrograms.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "install/SignerCheck.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "sys/Sha256.h"
#include "sys/Util.h"

namespace {

// Runs the program with the run parameters, waits, and deletes it when it
// was only fetched for this run (no run destination).
BOOL RunAuxiliary(const CUpdateInfo& file, const std::string& localPath)
{
    // Started only under a pinned publisher's signature, as the files placed.
    if (!CheckSigner(localPath.c_str(), file.m_arrSignerPin, BuiltInSignerPins())) {
        if (file.m_szRunDest.empty()) ::DeleteFileA(localPath.c_str());
        return FALSE;
    }
    BOOL started = CUtil::ExecuteFile(localPath.c_str(), file.m_szRunParam.c_str(), TRUE, nullptr, kProgramWaitMs);
    if (file.m_szRunDest.empty()) ::DeleteFileA(localPath.c_str());
    return started;
}

bool IsGreater(DWORD aHigh, DWORD aLow, DWORD bHigh, DWORD bLow)
{
    return aHigh != bHigh ? aHigh > bHigh : aLow > bLow;
}

}  // namespace

BOOL RunFileAndWait(const CUpdateInfo& file)
{
    if (file.m_szRunFileName.empty() || file.m_szRunSource.empty()) return TRUE;

    const std::string folder = file.m_szRunDest.empty() ? CUtil::GetStagingFolder() : file.m_szRunDest;
    const std::string localPath = folder + "\\" + file.m_szRunFileName;

    DWORD high = 0, low = 0;
    // With a RUNSHA256 only the published program runs: a present copy with
    // other bytes (one planted in a writable folder, say) is fetched anew.
    const bool present = CUtil::IsFileExist(localPath.c_str()) &&
                         (file.m_szRunSha256.empty() ||
                          CSha256::Same(CSha256::OfFile(localPath.c_str()), file.m_szRunSha256));
    if (present && CUtil::GetFileVersion(localPath.c_str(), &high, &low)) {
        if (IsGreater(file.m_dwRunVersionMS, file.m_dwRunVersionLS, high, low)) {
            WriteLog(2, "[RunFileAndWait] FileVersion (%s) (U:%d:%d) != (L:%d:%d)", localPath.c_str(),
                     file.m_dwRunVersionMS, file.m_dwRunVersionLS, high, low);
        } else {
            WriteLog(2, "[RunFileAndWait] Do not need update (%s)", localPath.c_str());
            return RunAuxiliary(file, localPath);
        }
    }

    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[RunFileAndWait] InternetOpen Failed, Error Code = %d");
    if (!internet) return FALSE;
    WriteLog(2, "[RunFileAndWait] Download File %s -> %s", file.m_szRunSource.c_str(), localPath.c_str());
    BOOL downloaded = CHttpUtil::DownloadFile(internet.get(), localPath.c_str(), file.m_szRunSource.c_str(), TRUE,
                                              nullptr, nullptr, file.m_szRunSha256.c_str(),
                                              file.m_dwRunFileSize ? file.m_dwRunFileSize : CHttpUtil::kMaxDownloadBytes);
    internet.reset();
    if (!downloaded) {
        WriteLog(1, "[RunFileAndWait] DownloadFile(%s) Failed", file.m_szRunSource.c_str());
        return FALSE;
    }
    return RunAuxiliary(file, localPath);
}

void ExecuteDownloadedFile(const CUpdateInfo& file)
{
    if (file.m_nExecute == 0) return;
    CUtil::ExecuteFile(file.m_szDestFileName.c_str(), file.m_szParam.c_str(), (file.m_nExecute & EXECUTE_WAIT) != 0,
                       nullptr, kProgramWaitMs);
    if (file.m_nExecute & EXECUTE_DELETE) {
        if (::DeleteFileA(file.m_szDestFileName.c_str()))
            WriteLog(2, "[ExecuteDownloadedFile] DeleteFile Success(%s)", file.m_szDestFileName.c_str());
        else
            WriteLog(1, "[ExecuteDownloadedFile] DeleteFile Failed, Error Code = %d", ::GetLastError());
    }
}
