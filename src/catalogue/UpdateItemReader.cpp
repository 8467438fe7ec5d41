// Reads the catalogue's UPDATEITEM, FILE and RUNFILE elements into the model.
#include "catalogue/CatalogueSignature.h"
#include "catalogue/CatalogueValues.h"
#include "catalogue/ItemPresence.h"
#include "catalogue/ItemRollout.h"
#include "catalogue/UpdateDecision.h"
#include "catalogue/UpdateInfoMgr.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "sys/Sha256.h"
#include "sys/Util.h"

#include <cctype>
#include <cstdio>
#include <cstring>

using catalogue::ChildText;
using catalogue::Flag;
using catalogue::Integer;
using catalogue::Text;

namespace {

// A file name is placed in its DEST folder and in the staging folder: it
// must not name another folder.
bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

// A file's record key is its name without the extension: ".dll" would have
// none and its values would land on the item's own key.
bool HasBaseName(const std::string& name)
{
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot > 0;
}

// A folder named in full: a drive and its root ("C:\...") or a share
// ("\\server\..."). A relative folder would follow the working folder of
// whatever started the program, one without a drive the root of its drive.
bool IsFullFolder(const std::string& folder)
{
    const bool drive = folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
                       (folder[2] == '\\' || folder[2] == '/');
    return drive || folder.compare(0, 2, "\\\\") == 0;
}

}  // namespace

bool IsArchiveDownload(const std::string& name, const std::string& url)
{
    auto extension = [](const std::string& path) {
        size_t slash = path.find_last_of("/\\"), dot = path.find_last_of('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
        return path.substr(dot);
    };
    const std::string nameExt = extension(name), urlExt = extension(url.substr(0, url.find_first_of("?#")));
    return lstrcmpiA(nameExt.c_str(), urlExt.c_str()) != 0 && lstrcmpiA(urlExt.c_str(), ".zip") == 0;
}

DWORD StatedDownloadSize(const CUpdateInfo& file)
{
    return IsArchiveDownload(file.m_szName, file.m_szSource) ? file.m_dwArchiveSize : file.m_dwFileSize;
}

BOOL IsModeMatch(const pugi::xml_node& item, const char* mode)
{
    for (pugi::xml_node child = item.child("MODE"); child; child = child.next_sibling("MODE")) {
        pugi::xml_attribute name = child.attribute("NAME");
        if (name && lstrcmpiA(name.value(), mode ? mode : "") == 0) return TRUE;
    }
    return FALSE;
}

void CUpdateSet::ReadUpdateItem(const pugi::xml_node& element)
{
    m_strName = element.attribute("NAME").value();
    m_bSelfUninstaller = std::strcmp(element.attribute("SELFUNINSTALLER").value(), "1") == 0 ? 1 : 0;
    // An item whose release has not reached this machine (or that a policy
    // holds) stays as it is: none of its files or registry elements is read.
    // An item recorded as installed makes the run an update, whether or not
    // its files are read (a held item's are not); its stage applies to it.
    const bool installed = IsItemInstalled(element, m_strName);
    if (installed) CUpdateInfoMgr::GetInstance()->SetUpdateMode(1);
    m_bHeld = RolloutHoldsItem(element, m_strName, installed, m_nStage) ? 1 : 0;
    ReadSignerPins(element);

    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        const std::string name = child.name();
        if (m_bHeld && (name == "FILE" || name == "ADDREG" || name == "DELREG")) continue;
        if (name == "FILE") {
            auto file = std::make_unique<CUpdateInfo>();
            bool rejected = false;
            if (!file->GetUpdateInfo(child)) {
                WriteLog(1, "[CreateUpdateList] GetUpdateInfo Failed (%s, %s)", m_strName.c_str(),
                         child.attribute("NAME").value());
                rejected = true;
            } else if (ContainsFile(file->m_szName.c_str())) {
                WriteLog(2, "[CreateUpdateList] already exist In update array(%s)", file->m_szName.c_str());
                rejected = true;
            }
            // The decision runs for rejected entries too: its side effects
            // (re-registering a present file) happen either way.
            BOOL needed = IsUpdateNeeded(*file);
            if (!rejected && needed == 1) m_arrUpdateFile.push_back(std::move(file));
        } else if (name == "ADDREG") {
            AddRegistry(child);
        } else if (name == "DELREG") {
            DeleteRegistry(child);
        } else if (name == "DESCRIPTION") {
            m_strDescription = Text(child);
            WriteLog(1, "[CreateUpdateList] MODULE DESCRIPTION: [%s]", m_strDescription.c_str());
        } else if (name == "LOG") {
            std::string service = child.attribute("NAME").value();
            m_mapLog[service] = Text(child);
            WriteLog(2, "[CreateUpdateList] Service Name = [%s], RD Tag : [%s]", service.c_str(), m_mapLog[service].c_str());
        } else if (name == "PUBLISHER") {
            m_strPublisher = child.attribute("NAME").value();
            WriteLog(1, "[CreateUpdateList] MODULE PUBLISHER NAME: [%s]", m_strPublisher.c_str());
        }
    }
    for (auto& file : m_arrUpdateFile) file->m_arrSignerPin = m_arrSignerPin;
    NoteVersions();
}

void CUpdateSet::ReadSignerPins(const pugi::xml_node& element)
{
    m_arrSignerPin.clear();
    for (pugi::xml_node signer = element.child("SIGNER"); signer; signer = signer.next_sibling("SIGNER")) {
        CSignerPin pin;
        pin.spkiSha256 = signer.attribute("SPKISHA256").value();
        pin.subject = signer.attribute("SUBJECT").value();
        if (CSha256::IsHexDigest(pin.spkiSha256)) {
            for (char& c : pin.spkiSha256) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
            WriteLog(2, "[CreateUpdateList] %s: SIGNER %s (%s)", m_strName.c_str(), pin.spkiSha256.c_str(),
                     pin.subject.empty() ? "any subject" : pin.subject.c_str());
        } else {
            // Kept as it is: a pin that matches no key refuses the item's
            // executable files instead of dropping the item's lock.
            WriteLog(1, "[CreateUpdateList] %s: Invalid SIGNER (%s): its executable files will be refused",
                     m_strName.c_str(), pin.spkiSha256.c_str());
        }
        m_arrSignerPin.push_back(pin);
    }
}

void CUpdateSet::NoteVersions()
{
    // The versions a result report names: of the main file, else the first.
    const CUpdateInfo* chosen = nullptr;
    for (const auto& file : m_arrUpdateFile)
        if (!chosen || (file->m_bMainFile && !chosen->m_bMainFile)) chosen = file.get();
    if (!chosen) return;
    auto text = [](DWORD high, DWORD low) {
        char version[48];
        std::snprintf(version, sizeof(version), "%lu.%lu.%lu.%lu", static_cast<unsigned long>(high >> 16),
                      static_cast<unsigned long>(high & 0xFFFF), static_cast<unsigned long>(low >> 16),
                      static_cast<unsigned long>(low & 0xFFFF));
        return std::string(version);
    };
    m_strVersionAfter = text(chosen->m_dwVersionMS, chosen->m_dwVersionLS);
    DWORD high = 0, low = 0;
    if (::GetFileAttributesA(chosen->m_szDestFileName.c_str()) != INVALID_FILE_ATTRIBUTES)
        m_strVersionBefore = CUtil::GetFileVersion(chosen->m_szDestFileName.c_str(), &high, &low) ? text(high, low)
                                                                                                     : "0.0.0.0";
}

BOOL CUpdateInfo::GetUpdateInfo(const pugi::xml_node& element)
{
    m_szName = element.attribute("NAME").value();
    const char* name = m_szName.c_str();
    if (!IsPlainFileName(m_szName) || !HasBaseName(m_szName)) {
        WriteLog(1, "[GetUpdateInfo] Invalid Name (FileName = %s)", name);
        return 0;
    }
    if (!ChildText(element, "SOURCE", m_szSource)) {
        WriteLog(1, "[GetUpdateInfo] Source do not exist (FileName = %s)", name);
        return 0;
    }
    ChildText(element, "SOURCE_WIN9X", m_szSourceWin9x);

    std::string dest;
    if (!ChildText(element, "DEST", dest)) {
        WriteLog(1, "[GetUpdateInfo] Dest do not exist (FileName = %s)", name);
        return 0;
    }
    const std::string folder = CUtil::ExpandPathMacros(dest.c_str());
    if (!IsFullFolder(folder)) {
        WriteLog(1, "[GetUpdateInfo] Invalid Dest %s: not a full path (FileName = %s)", folder.c_str(), name);
        return 0;
    }
    // Most entries share their folder: it is made once per run.
    if (!CUpdateInfoMgr::GetInstance()->FolderMade(folder) && !CUtil::CreateRecursiveDirectory(folder.c_str()))
        WriteLog(1, "[GetUpdateInfo] CUtil::CreateRecursiveDirectory(%s) Failed, Error Code = %d", folder.c_str(),
                 LastError.dwSysError);
    m_szDestFileName = folder + "\\" + m_szName;

    std::string text;
    m_dwVersionMS = m_dwVersionLS = 0;
    if (ChildText(element, "VERSION", text)) {
        catalogue::VersionList(text, m_dwVersionMS, m_dwVersionLS);
        WriteLog(2, "[GetUpdateInfo] Version = %s (FileName = %s)", text.c_str(), name);
    }
    m_dwFileSize = ChildText(element, "FILESIZE", text) ? static_cast<DWORD>(Integer(text)) : 0;
    WriteLog(2, "[GetUpdateInfo] FileSize = %d (FileName = %s)", m_dwFileSize, name);
    // The size of the archive a file is unpacked from (FILESIZE is the file's).
    m_dwArchiveSize = ChildText(element, "ARCHIVESIZE", text) ? static_cast<DWORD>(Integer(text)) : 0;
    m_ftFileTime = 0;
    if (ChildText(element, "FILETIME", text)) {
        m_ftFileTime = catalogue::TimeList(text);
        WriteLog(2, "[GetUpdateInfo] FileTime = %s (FileName = %s)", text.c_str(), name);
    }
    m_bRegister = Flag(element, "REGISTER");
    WriteLog(2, "[GetUpdateInfo] Register = %d (FileName = %s)", m_bRegister, name);
    if (ChildText(element, "DELETEREGCLASS", m_szDeleteRegClass))
        WriteLog(2, "[GetUpdateInfo] DeleteRegClass=%s (FileName = %s)", m_szDeleteRegClass.c_str(), name);
    if (ChildText(element, "DELETEREGKEY", m_szDeleteRegKey))
        WriteLog(2, "[GetUpdateInfo] DeleteRegKey=%s (FileName = %s)", m_szDeleteRegKey.c_str(), name);
    m_bReboot = Flag(element, "REBOOT");
    WriteLog(2, "[GetUpdateInfo] Reboot = %d (FileName = %s)", m_bReboot, name);
    m_nExecute = ChildText(element, "EXECUTE", text) ? static_cast<int>(Integer(text)) : 0;
    WriteLog(2, "[GetUpdateInfo] ExecuteOption = %d (FileName = %s)", m_nExecute, name);
    if (ChildText(element, "PARAM", m_szParam))
        WriteLog(2, "[GetUpdateInfo] ExecuteParam = %s (FileName  = %s)", m_szParam.c_str(), name);
    m_bSharedDll = Flag(element, "SHAREDDLL");
    WriteLog(2, "[GetUpdateInfo] SharedDll = %d (FileName = %s)", m_bSharedDll, name);
    if (pugi::xml_node run = element.child("RUNFILE")) ParseRunFileElement(run);
    if (!m_szRunDest.empty() && !IsFullFolder(m_szRunDest)) {
        WriteLog(1, "[GetUpdateInfo] Invalid RunDest %s: not a full path (FileName = %s)", m_szRunDest.c_str(), name);
        return 0;
    }
    // The hashes of what is downloaded: exactly 64 hexadecimal digits.
    if (ChildText(element, "SHA256", m_szSha256) && !CSha256::IsHexDigest(m_szSha256)) {
        WriteLog(1, "[GetUpdateInfo] Invalid SHA256 (FileName = %s)", name);
        return 0;
    }
    if (pugi::xml_node run = element.child("RUNFILE")) {
        if (ChildText(run, "RUNSHA256", m_szRunSha256) && !CSha256::IsHexDigest(m_szRunSha256)) {
            WriteLog(1, "[GetUpdateInfo] Invalid RUNSHA256 (FileName = %s)", name);
            return 0;
        }
    }
    // A signed catalogue covers every byte that is installed or run.
    if (CatalogueSignatureRequired() &&
        (m_szSha256.empty() || (!m_szRunFileName.empty() && m_szRunSha256.empty()))) {
        WriteLog(1, "[GetUpdateInfo] SHA256 missing in a signed catalogue (FileName = %s)", name);
        return 0;
    }
    ReadPatches(element);
    if (ChildText(element, "CLASSID", m_szClassId))
        WriteLog(2, "[GetUpdateInfo] ClassID=%s (FileName = %s)", m_szClassId.c_str(), name);

    m_bMainFile = Flag(element, "MAINFILE");
    return 1;
}

void CUpdateInfo::ReadPatches(const pugi::xml_node& element)
{
    const char* name = m_szName.c_str();
    m_arrPatch.clear();
    m_szFileSha256.clear();
    if (ChildText(element, "FILESHA256", m_szFileSha256) && !CSha256::IsHexDigest(m_szFileSha256)) {
        WriteLog(1, "[GetUpdateInfo] Invalid FILESHA256, ignored (FileName = %s)", name);
        m_szFileSha256.clear();
    }
    for (pugi::xml_node patch = element.child("PATCH"); patch; patch = patch.next_sibling("PATCH")) {
        CFilePatch entry;
        entry.from = patch.attribute("FROM").value();
        entry.sha256 = patch.attribute("SHA256").value();
        const long size = catalogue::Integer(patch.attribute("SIZE").value());
        entry.size = size > 0 ? static_cast<DWORD>(size) : 0;
        entry.url = Text(patch);
        if (!CSha256::IsHexDigest(entry.from) || !CSha256::IsHexDigest(entry.sha256) || entry.size == 0 ||
            entry.url.empty()) {
            WriteLog(1, "[GetUpdateInfo] Invalid PATCH, ignored (FileName = %s)", name);
            continue;
        }
        if (m_arrPatch.size() == kMaxPatchesPerFile) {
            WriteLog(1, "[GetUpdateInfo] More than %u PATCH elements, the rest ignored (FileName = %s)",
                     static_cast<unsigned>(kMaxPatchesPerFile), name);
            break;
        }
        m_arrPatch.push_back(entry);
    }
    // A patch's result is checked against the file's size and hash: without
    // them there is nothing to check it by.
    const std::string& target = IsArchiveDownload(m_szName, m_szSource) ? m_szFileSha256 : m_szSha256;
    if (!m_arrPatch.empty() && (m_dwFileSize == 0 || target.empty())) {
        WriteLog(1, "[GetUpdateInfo] PATCH without FILESIZE or the file's SHA-256, ignored (FileName = %s)", name);
        m_arrPatch.clear();
    }
    // A patch no smaller than the file saves nothing; it is never fetched.
    for (size_t i = m_arrPatch.size(); i-- > 0;)
        if (m_arrPatch[i].size >= m_dwFileSize) m_arrPatch.erase(m_arrPatch.begin() + static_cast<long>(i));
    if (!m_arrPatch.empty())
        WriteLog(2, "[GetUpdateInfo] Patches = %u (FileName = %s)", static_cast<unsigned>(m_arrPatch.size()), name);
}

void CUpdateInfo::ParseRunFileElement(const pugi::xml_node& element)
{
    m_szRunFileName = element.attribute("NAME").value();
    WriteLog(2, "[ParseRunFileElement] RunFile=%s", m_szRunFileName.c_str());
    // An auxiliary program's name is placed in a folder like a file's.
    if (!m_szRunFileName.empty() && !IsPlainFileName(m_szRunFileName)) {
        WriteLog(1, "[ParseRunFileElement] Invalid Name (RunFile = %s)", m_szRunFileName.c_str());
        m_szRunFileName.clear();
        return;
    }
    if (ChildText(element, "RUNSOURCE", m_szRunSource))
        WriteLog(2, "[GetUpdateInfo] RunFileSource = %s", m_szRunSource.c_str());
    std::string text;
    if (ChildText(element, "RUNDEST", text)) {
        m_szRunDest = CUtil::ExpandPathMacros(text.c_str());
        WriteLog(2, "[GetUpdateInfo] RunFileDest = %s", m_szRunDest.c_str());
    }
    if (ChildText(element, "RUNPARAM", m_szRunParam)) WriteLog(2, "[GetUpdateInfo] RunParam = %s", m_szRunParam.c_str());
    // Its download is stopped past the size the catalogue states.
    m_dwRunFileSize = ChildText(element, "RUNFILESIZE", text) ? static_cast<DWORD>(Integer(text)) : 0;
    m_dwRunVersionMS = m_dwRunVersionLS = 0;
    if (ChildText(element, "RUNVERSION", text)) {
        catalogue::VersionList(text, m_dwRunVersionMS, m_dwRunVersionLS);
        WriteLog(2, "[GetUpdateInfo] Version = %s (FileName = %s)", text.c_str(), m_szName.c_str());
    }
}
