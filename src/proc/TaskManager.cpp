#include "proc/TaskManager.h"

#include "base/SystemLibrary.h"
#include "proc/Accounts.h"

#include <algorithm>

namespace {

template <typename T>
bool Resolve(HMODULE module, const char* name, T& target)
{
    target = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return target != nullptr;
}

}  // namespace

// --- Process status library -------------------------------------------------

BOOL CPsapiHandler::Resolve()
{
    if (!m_hPsapi) m_hPsapi.reset(LoadSystemLibrary("PSAPI.DLL"));
    if (!m_hPsapi) return FALSE;
    bool ok = ::Resolve(m_hPsapi.get(), "EnumProcesses", m_pEnumProcesses);
    ok = ::Resolve(m_hPsapi.get(), "EnumProcessModules", m_pEnumProcessModules) && ok;
    ok = ::Resolve(m_hPsapi.get(), "GetModuleFileNameExA", m_pGetModuleFileNameExA) && ok;
    return ok;
}

BOOL CPsapiHandler::PopulateProcesses()
{
    if (!Resolve()) return FALSE;
    DWORD ids[1024], bytes = 0;
    if (!m_pEnumProcesses(ids, sizeof(ids), &bytes)) return FALSE;
    m_pProcesses->clear();
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        zelto::ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!process) continue;
        HMODULE modules[1024];
        DWORD needed = 0;
        if (!m_pEnumProcessModules(process.get(), modules, sizeof(modules), &needed) || needed < sizeof(HMODULE))
            continue;
        char name[MAX_PATH] = {};
        m_pGetModuleFileNameExA(process.get(), modules[0], name, MAX_PATH);
        auto* entry = new CExeModuleInstance(name, modules[0], ids[i]);
        m_pProcesses->Add(entry);
        PopulateModules(entry);
    }
    return TRUE;
}

BOOL CPsapiHandler::PopulateModules(CExeModuleInstance* entry)
{
    if (!entry || !Resolve()) return FALSE;
    DWORD ids[1024], bytes = 0;
    if (!m_pEnumProcesses(ids, sizeof(ids), &bytes)) return FALSE;
    entry->ReleaseModules();
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        if (ids[i] != entry->GetProcessId()) continue;
        zelto::ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!process) continue;
        char sid[256] = "";
        GetProcessOwnerSid(process.get(), sid, sizeof(sid));
        entry->SetOwnerSid(sid);
        HMODULE modules[1024];
        DWORD needed = 0;
        if (!m_pEnumProcessModules(process.get(), modules, sizeof(modules), &needed)) continue;
        DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), 1024);
        for (DWORD m = 1; m < count; ++m) {   // the first is the main image
            char name[MAX_PATH] = {};
            m_pGetModuleFileNameExA(process.get(), modules[m], name, MAX_PATH);
            entry->AddModule(new CModuleInstance(name, modules[m]));
        }
    }
    return TRUE;
}

// --- Tool Help --------------------------------------------------------------------

BOOL CToolhelpHandler::Resolve()
{
    zelto::ScopedModule kernel(LoadSystemLibrary("KERNEL32.DLL"));
    if (!kernel) return FALSE;
    bool ok = ::Resolve(kernel.get(), "CreateToolhelp32Snapshot", m_pCreateSnapshot);
    ok = ::Resolve(kernel.get(), "Process32First", m_pProcessFirst) && ok;
    ok = ::Resolve(kernel.get(), "Process32Next", m_pProcessNext) && ok;
    ok = ::Resolve(kernel.get(), "Module32First", m_pModuleFirst) && ok;
    ok = ::Resolve(kernel.get(), "Module32Next", m_pModuleNext) && ok;
    return ok;   // kernel32 stays loaded in every process, so the addresses stay valid
}

BOOL CToolhelpHandler::PopulateProcesses()
{
    if (!Resolve()) return FALSE;
    zelto::ScopedFile snapshot(m_pCreateSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return TRUE;
    PROCESSENTRY32 record = {};
    record.dwSize = sizeof(record);
    for (BOOL more = m_pProcessFirst(snapshot.get(), &record); more; more = m_pProcessNext(snapshot.get(), &record)) {
        auto* entry = new CExeModuleInstance(record.szExeFile, reinterpret_cast<void*>(
                                                 static_cast<ULONG_PTR>(record.th32ModuleID)), record.th32ProcessID);
        m_pProcesses->Add(entry);
        PopulateModules(entry);
    }
    return TRUE;
}

BOOL CToolhelpHandler::PopulateModules(CExeModuleInstance* entry)
{
    if (!entry || !Resolve()) return FALSE;
    zelto::ScopedFile snapshot(m_pCreateSnapshot(TH32CS_SNAPMODULE, entry->GetProcessId()));
    if (!snapshot) return TRUE;
    MODULEENTRY32 record = {};
    record.dwSize = sizeof(record);
    for (BOOL more = m_pModuleFirst(snapshot.get(), &record); more; more = m_pModuleNext(snapshot.get(), &record)) {
        if (lstrcmpiA(record.szModule, entry->GetBaseName()) != 0)
            entry->AddModule(new CModuleInstance(record.szExePath, record.hModule));
    }
    return TRUE;
}

// --- The facade ----------------------------------------------------------------------

CTaskManager::CTaskManager() : m_pProcesses(std::make_unique<CRunningProcesses>())
{
    if (zelto::ScopedModule psapi(LoadSystemLibrary("PSAPI.DLL")); psapi) {
        m_pLibHandler = std::make_unique<CPsapiHandler>(m_pProcesses.get());
        return;
    }
    zelto::ScopedModule kernel(LoadSystemLibrary("KERNEL32.DLL"));
    if (kernel && ::GetProcAddress(kernel.get(), "CreateToolhelp32Snapshot"))
        m_pLibHandler = std::make_unique<CToolhelpHandler>(m_pProcesses.get());
}

CTaskManager::~CTaskManager() = default;

BOOL CTaskManager::Populate()
{
    m_pProcesses->clear();
    return m_pLibHandler ? m_pLibHandler->PopulateProcesses() : FALSE;
}

const char* CTaskManager::BackEndName() const
{
    if (dynamic_cast<CPsapiHandler*>(m_pLibHandler.get())) return "psapi";
    if (dynamic_cast<CToolhelpHandler*>(m_pLibHandler.get())) return "toolhelp";
    return "";
}
