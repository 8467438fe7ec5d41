// The browser's downloaded-control cache library, loaded for its
// "RemoveControlByName"; a missing library or entry point only skips the
// cache removals.
#pragma once

#include "base/Handles.h"
#include "uninstall/UninstallProcedure.h"

class CControlCache {
public:
    CControlCache();   // loads "OCCACHE.DLL" and looks up the entry point
    RemoveControlByNameFn RemoveControlByName() const { return m_pRemove; }

private:
    zelto::ScopedModule m_hLibrary;
    RemoveControlByNameFn m_pRemove = nullptr;
};
