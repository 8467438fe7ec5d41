#include "catalogue/UpdateSet.h"

BOOL CUpdateSet::ContainsFile(const char* name) const
{
    if (!name) return FALSE;
    for (const auto& file : m_arrUpdateFile) {
        if (::CompareStringA(MAKELCID(0x412, SORT_DEFAULT), NORM_IGNORECASE, file->m_szName.c_str(), -1, name, -1) ==
            CSTR_EQUAL)
            return TRUE;
    }
    return FALSE;
}

std::string CUpdateSet::GetStatisticsTag(const std::string& serviceName) const
{
    auto found = m_mapLog.find(serviceName);
    return found == m_mapLog.end() ? std::string() : found->second;
}
