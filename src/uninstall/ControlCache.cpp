#include "uninstall/ControlCache.h"

#include "base/Log.h"
#include "base/SystemLibrary.h"

CControlCache::CControlCache() : m_hLibrary(LoadSystemLibrary("OCCACHE.DLL"))
{
    if (!m_hLibrary) {
        WriteLog(2, "OCCACHE.DLL hMod == NULL");
        return;
    }
    m_pRemove = reinterpret_cast<RemoveControlByNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(m_hLibrary.get(), "RemoveControlByName")));
    if (!m_pRemove) WriteLog(2, "GetProcAddress RemoveControlByName == NULL");
}
