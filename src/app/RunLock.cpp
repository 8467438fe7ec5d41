#include "app/RunLock.h"

#include "base/Log.h"
#include "sys/Util.h"

CRunLock::Claim CRunLock::Take()
{
    if (Held()) return Claim::Taken;
    if (!CUtil::PrepareStagingFolder()) return Claim::Refused;
    const std::string path = CUtil::GetStagingFolder() + "\\ZeltoSetup.run";
    m_hLock.reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (Held()) return Claim::Taken;
    const DWORD error = ::GetLastError();
    // Held open by another run, or still being deleted as its run ends.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return Claim::AnotherRunning;
    WriteLog(1, "[CRunLock] CreateFile(%s) Failed, Error Code = %d", path.c_str(), error);
    return Claim::AnotherRunning;
}
