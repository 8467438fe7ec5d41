#include "install/ItemRollback.h"

#include "base/Log.h"
#include "catalogue/FileRegistration.h"
#include "install/Placement.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

// A registry key with its values and sub-keys, read in full.
struct CItemRollback::RecordCopy {
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::string, RecordCopy>> keys;

    // False when the key cannot be opened.
    bool Read(HKEY root, const std::string& path)
    {
        CRegKey key;
        if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
        for (DWORD i = 0;; ++i) {
            char name[16384];
            DWORD nameSize = sizeof(name), type = 0, size = 0;
            if (::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            Value value{std::string(name, nameSize), type, std::vector<BYTE>(size)};
            nameSize = sizeof(name);
            if (::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, value.data.data(), &size) ==
                ERROR_SUCCESS) {
                value.data.resize(size);
                values.push_back(std::move(value));
            }
        }
        for (DWORD i = 0;; ++i) {
            char name[MAX_PATH];
            DWORD nameSize = sizeof(name);
            if (::RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            RecordCopy sub;
            if (sub.Read(key.get(), name)) keys.emplace_back(name, std::move(sub));
        }
        return true;
    }

    void Write(HKEY root, const std::string& path) const
    {
        CRegKey key;
        if (key.Create(root, path.c_str()) != ERROR_SUCCESS) {
            WriteLog(1, "[RollBack] regKey.Create(%s) Failed", path.c_str());
            return;
        }
        for (const Value& value : values)
            ::RegSetValueExA(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                             value.data.empty() ? nullptr : value.data.data(), static_cast<DWORD>(value.data.size()));
        for (const auto& sub : keys) sub.second.Write(key.get(), sub.first);
    }
};

std::string CItemRollback::BackupFolder()
{
    return CUtil::GetStagingFolder() + "\\ZeltoSetup.old." + std::to_string(::GetCurrentProcessId());
}

CItemRollback::CItemRollback(const char* programKey, const std::string& itemName)
    : m_strProgramKey(programKey), m_strItemKey(m_strProgramKey + "\\" + itemName)
{
    CRegKey program;
    m_bProgramKeyExisted = program.Open(HKEY_LOCAL_MACHINE, programKey, KEY_READ) == ERROR_SUCCESS;
    auto record = std::make_unique<RecordCopy>();
    if (m_bProgramKeyExisted && record->Read(HKEY_LOCAL_MACHINE, m_strItemKey)) m_pRecord = std::move(record);
    CUtil::CreateRecursiveDirectory(BackupFolder().c_str());
}

CItemRollback::~CItemRollback()
{
    for (const Change& change : m_changes) {
        if (change.placement != Placement::Replaced) continue;
        const std::string old = KeepOldAs(*change.file);
        ::SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(old.c_str());
    }
    ::RemoveDirectoryA(BackupFolder().c_str());
}

std::string CItemRollback::KeepOldAs(const CUpdateInfo& file) const
{
    return BackupFolder() + "\\" + file.m_szName;
}

void CItemRollback::Note(const CUpdateInfo& file, Placement placement, const std::string& staged)
{
    if (placement != Placement::Nothing) m_changes.push_back({&file, placement, staged});
}

void CItemRollback::PutBackOldFile(const CUpdateInfo& file)
{
    const char* dest = file.m_szDestFileName.c_str();
    const std::string old = KeepOldAs(file);
    // CopyFile keeps the old file's time stamp and attributes.
    if (!::CopyFileA(old.c_str(), dest, FALSE)) {
        WriteLog(1, "[RollBack] CopyFile(%s -> %s) Failed, Error Code = %d; replaced at restart", old.c_str(), dest,
                 ::GetLastError());
        // The copy must outlive the run for the replacement at the next start.
        const std::string kept = old + ".restart";
        if (::MoveFileExA(old.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING)) ReplaceAtRestart(kept, dest);
        return;
    }
    WriteLog(2, "[RollBack] %s put back", dest);
    if (!file.m_bRegister) return;
    if (CUtil::RegisterServer(dest)) RegisterPermissionKeys(file);
    else WriteLog(1, "[RollBack] RegisterServer(%s) Failed", dest);
}

void CItemRollback::RestoreRecord()
{
    if (!m_bProgramKeyExisted) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, m_strProgramKey.c_str());
        return;
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, m_strItemKey.c_str());
    if (m_pRecord) m_pRecord->Write(HKEY_LOCAL_MACHINE, m_strItemKey);
}
