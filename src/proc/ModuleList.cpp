#include "proc/ModuleList.h"

#include <cstring>

const char* CModuleInstance::GetBaseName() const
{
    const char* slash = std::strrchr(m_strName.c_str(), '\\');
    return slash ? slash + 1 : m_strName.c_str();
}

void CModuleInstance::AddModule(CModuleInstance* module)
{
    if (!m_pModules) m_pModules = std::make_unique<CModuleList>();
    m_pModules->Add(module);
}
