// The process enumeration back-ends (process status library, Tool Help) and
// the facade that takes one snapshot.
#pragma once

#include "base/Handles.h"
#include "proc/ModuleList.h"

#include <tlhelp32.h>

class CLibHandler {
public:
    explicit CLibHandler(CRunningProcesses* processes) : m_pProcesses(processes) {}
    virtual ~CLibHandler() = default;
    virtual BOOL PopulateModules(CExeModuleInstance* process) = 0;
    virtual BOOL PopulateProcesses() = 0;

protected:
    CRunningProcesses* m_pProcesses;   // not owned
};

class CPsapiHandler : public CLibHandler {
public:
    using CLibHandler::CLibHandler;
    BOOL PopulateModules(CExeModuleInstance* process) override;
    BOOL PopulateProcesses() override;

private:
    BOOL Resolve();
    zelto::ScopedModule m_hPsapi;
    BOOL(WINAPI* m_pEnumProcesses)(DWORD*, DWORD, DWORD*) = nullptr;
    BOOL(WINAPI* m_pEnumProcessModules)(HANDLE, HMODULE*, DWORD, DWORD*) = nullptr;
    DWORD(WINAPI* m_pGetModuleFileNameExA)(HANDLE, HMODULE, LPSTR, DWORD) = nullptr;
};

class CToolhelpHandler : public CLibHandler {
public:
    using CLibHandler::CLibHandler;
    BOOL PopulateModules(CExeModuleInstance* process) override;
    BOOL PopulateProcesses() override;

private:
    BOOL Resolve();
    HANDLE(WINAPI* m_pCreateSnapshot)(DWORD, DWORD) = nullptr;
    BOOL(WINAPI* m_pProcessFirst)(HANDLE, PROCESSENTRY32*) = nullptr;
    BOOL(WINAPI* m_pProcessNext)(HANDLE, PROCESSENTRY32*) = nullptr;
    BOOL(WINAPI* m_pModuleFirst)(HANDLE, MODULEENTRY32*) = nullptr;
    BOOL(WINAPI* m_pModuleNext)(HANDLE, MODULEENTRY32*) = nullptr;
};

class CTaskManager {
public:
    CTaskManager();   // chooses the back-end: the process status library when it loads
    ~CTaskManager();
    CTaskManager(const CTaskManager&) = delete;
    CTaskManager& operator=(const CTaskManager&) = delete;

    BOOL Populate();
    unsigned GetProcessCount() const { return static_cast<unsigned>(m_pProcesses->size()); }
    CExeModuleInstance* GetProcessByIndex(unsigned i) const
    {
        return static_cast<CExeModuleInstance*>(m_pProcesses->at(i));
    }
    // For tests: which back-end was chosen ("psapi", "toolhelp" or "").
    const char* BackEndName() const;

private:
    std::unique_ptr<CRunningProcesses> m_pProcesses;
    std::unique_ptr<CLibHandler> m_pLibHandler;
};
