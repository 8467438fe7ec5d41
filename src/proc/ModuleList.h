// Snapshots of processes and the modules each has loaded.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CModuleInstance;

// An owning list of module entries.
class CModuleList {
public:
    virtual ~CModuleList() = default;
    void Add(CModuleInstance* entry) { m_items.emplace_back(entry); }
    size_t size() const { return m_items.size(); }
    CModuleInstance* at(size_t i) const { return m_items.at(i).get(); }   // checks the bound
    void clear() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<CModuleInstance>> m_items;
};

class CElements : public CModuleList {};

// The process list: every entry is a CExeModuleInstance.
class CRunningProcesses : public CElements {};

// One loaded module.
class CModuleInstance {
public:
    CModuleInstance(const char* name, void* handle) : m_handle(handle) { SetName(name); }
    virtual ~CModuleInstance() = default;
    CModuleInstance(const CModuleInstance&) = delete;
    CModuleInstance& operator=(const CModuleInstance&) = delete;

    void SetName(const char* name) { m_strName = name ? name : ""; }
    const char* GetName() const { return m_strName.c_str(); }
    // The part after the last backslash, or the whole name.
    const char* GetBaseName() const;
    void* GetHandle() const { return m_handle; }

    void AddModule(CModuleInstance* module);
    size_t GetModuleCount() const { return m_pModules ? m_pModules->size() : 0; }
    CModuleInstance* GetModuleByIndex(size_t i) const { return m_pModules ? m_pModules->at(i) : nullptr; }
    void ReleaseModules() { m_pModules.reset(); }

private:
    std::string m_strName;
    void* m_handle;
    std::unique_ptr<CModuleList> m_pModules;
};

// One process: its name is the main image, its modules the other modules.
class CExeModuleInstance : public CModuleInstance {
public:
    CExeModuleInstance(const char* name, void* handle, DWORD processId)
        : CModuleInstance(name, handle), m_dwProcessId(processId) {}
    DWORD GetProcessId() const { return m_dwProcessId; }
    void SetOwnerSid(const char* sid) { if (sid) lstrcpynA(m_szOwnerSid, sid, sizeof(m_szOwnerSid)); }
    const char* GetOwnerSid() const { return m_szOwnerSid; }

private:
    DWORD m_dwProcessId;
    char m_szOwnerSid[256] = {};
};
