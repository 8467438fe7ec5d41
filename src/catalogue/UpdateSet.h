// One catalogue item (element UPDATEITEM) with the component files of it
// that need installing.
#pragma once

#include "catalogue/UpdateInfo.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// 1 when one MODE child's NAME equals the mode, ignoring case.
BOOL IsModeMatch(const pugi::xml_node& item, const char* mode);

class CUpdateSet {
public:
    CUpdateSet() = default;
    virtual ~CUpdateSet() = default;
    CUpdateSet(const CUpdateSet&) = delete;
    CUpdateSet& operator=(const CUpdateSet&) = delete;

    // 1 when a file entry has this name, compared without regard to case.
    BOOL ContainsFile(const char* name) const;
    // The tag stored under exactly this service name, or "".
    std::string GetStatisticsTag(const std::string& serviceName) const;

    // Reads an UPDATEITEM element whose mode matched: files (decided one by
    // one), registry elements (applied at once), description, tags, publisher;
    // no files or registry elements when its rollout or a policy holds it.
    void ReadUpdateItem(const pugi::xml_node& element);
    // Notes the versions of its main file before and after, for its result report.
    void NoteVersions();
    BOOL AddRegistry(const pugi::xml_node& element);
    BOOL DeleteRegistry(const pugi::xml_node& element);

    std::string m_strName;                        // attribute NAME: the key of its uninstall record
    std::string m_strDescription;                 // element DESCRIPTION
    std::string m_strPublisher;                   // attribute NAME of element PUBLISHER
    std::map<std::string, std::string> m_mapLog;  // LOG: service name -> statistics tag
    int m_bSelfUninstaller = 0;                   // SELFUNINSTALLER = "1"
    int m_bHeld = 0;                              // its ROLLOUT stage or a policy holds it back
    int m_nStage = -1;                            // its ROLLOUT stage in hundredths of a percent; -1 none
    std::string m_strVersionBefore;               // its main file's version at its destination ("" absent)
    std::string m_strVersionAfter;                // the catalogue's version of that file
    SignerPins m_arrSignerPin;                    // SIGNER: publishers allowed to sign its executable files
    std::vector<std::unique_ptr<CUpdateInfo>> m_arrUpdateFile;   // owned, in catalogue order

private:
    // Reads the item's SIGNER elements into m_arrSignerPin.
    void ReadSignerPins(const pugi::xml_node& element);
};
