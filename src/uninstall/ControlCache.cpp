#include "uninstall/ControlCache.h"

CControlCache::CControlCache() : m_hLibrary(::LoadLibraryA("OCCACHE.DLL"))
{
    if (m_hLibrary)
        m_pRemove = reinterpret_cast<RemoveControlByNameFn>(
            reinterpret_cast<void*>(::GetProcAddress(m_hLibrary.get(), "RemoveControlByName")));
}
