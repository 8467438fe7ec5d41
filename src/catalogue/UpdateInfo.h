// One component file of a catalogue item (element FILE): where it comes
// from, where it goes, how it is registered and run.
#pragma once

#include <windows.h>

#include <pugixml.hpp>

#include "sys/SignerPin.h"

#include <string>
#include <vector>

// True when a file named name is unpacked from the download at url: the URL
// (before any query) ends in ".zip" and the name has another extension.
bool IsArchiveDownload(const std::string& name, const std::string& url);

class CUpdateInfo;
// The size of file's download as the catalogue states it (FILESIZE for a
// plain file, ARCHIVESIZE for one unpacked from a ZIP download); 0 when it
// states none.
DWORD StatedDownloadSize(const CUpdateInfo& file);

// A PATCH element of a FILE: a zstd patch that turns the bytes installed at
// the destination (when their SHA-256 is `from`) into the file.
struct CFilePatch {
    std::string from;     // SHA-256 of the installed bytes it applies to
    std::string url;      // its download URL
    DWORD size = 0;       // its size in bytes
    std::string sha256;   // its own SHA-256
};

// The most PATCH elements one FILE keeps (the newest releases come first).
constexpr size_t kMaxPatchesPerFile = 16;

class CUpdateInfo {
public:
    CUpdateInfo() = default;
    virtual ~CUpdateInfo() = default;
    CUpdateInfo(const CUpdateInfo&) = delete;
    CUpdateInfo& operator=(const CUpdateInfo&) = delete;

    // Reads a FILE element; 0 when it is refused (no SOURCE, no DEST, a bad
    // NAME, a SHA256 or RUNSHA256 that is not 64 hexadecimal digits, or a
    // missing hash where the build requires signed catalogues).
    BOOL GetUpdateInfo(const pugi::xml_node& element);
    // Reads a RUNFILE element.
    void ParseRunFileElement(const pugi::xml_node& element);

    // Text members: empty when the catalogue has no such element.
    std::string m_szName;            // file name with extension; its name in the staging folder
    std::string m_szSource;          // download URL
    std::string m_szSourceWin9x;     // download URL on the Windows 9x family
    std::string m_szDestFileName;    // full path where the file is placed
    std::string m_szClassId;         // control's class identifier, without braces
    std::string m_szParam;           // command-line text for running the file
    int m_nExecute = 0;              // 0 = not run; bit 2 wait; bit 4 delete after running
    DWORD m_dwVersionMS = 0;         // catalogue version: (first << 16) | second
    DWORD m_dwVersionLS = 0;         //                    (third << 16) | fourth
    DWORD m_dwFileSize = 0;          // expected size; 0 = do not compare
    DWORD m_dwArchiveSize = 0;       // ARCHIVESIZE: the ZIP download's size; 0 = not stated
    DWORD m_dwDownloadSize = 0;      // announced size of the download; 0 when already staged
    int m_bRegister = 0;             // register as a COM server
    int m_bReboot = 0;               // placing it requires a restart
    int m_bSharedDll = 0;            // a shared library (recorded for uninstall)
    int m_bMainFile = 0;             // the item's main control
    std::string m_szDeleteRegClass;  // registry class text to remove
    std::string m_szDeleteRegKey;    // registry key text to remove before placing
    std::string m_szRunFileName;     // auxiliary program to run before placing
    std::string m_szRunSource;       // its download URL
    std::string m_szRunDest;         // where it goes (macros expanded)
    std::string m_szRunParam;        // its command-line text
    DWORD m_dwRunVersionMS = 0;
    DWORD m_dwRunVersionLS = 0;
    ULONGLONG m_ftFileTime = 0;      // expected last-write time (UTC, 100 ns); 0 = do not compare
    std::string m_szSha256;          // SHA-256 of the download (64 hex digits); empty = not checked
    std::string m_szRunSha256;       // SHA-256 of the auxiliary program's download
    DWORD m_dwRunFileSize = 0;       // RUNFILESIZE: the auxiliary program's size; 0 = not stated
    int m_bDownloaded = 0;           // the current file already lies in the staging folder
    std::string m_szFileSha256;      // FILESHA256: SHA-256 of the file as placed (an archive's entry); empty = not stated
    std::vector<CFilePatch> m_arrPatch;  // patches from installed bytes; none usable without FILESIZE and a target hash
    int m_nPatch = -1;               // the patch this run fetches instead of the file (index), -1 none
    int m_bPatched = 0;              // the staged file was made from its patch
    DWORD m_dwFetchMs = 0;           // how long its transfer took this run (result reports)
    ULONGLONG m_qwFetchBytes = 0;    // the bytes its transfer read from servers this run (patch or file, tries included)
    DWORD m_dwFetchError = 0;        // its own transfer failed: the LastError pair (not when another's stopped it)
    DWORD m_dwFetchSysError = 0;
    std::string m_szStagingFolder;   // where a plain download is staged when another file of the run
                                     // has its staged name; empty = the staging folder
    SignerPins m_arrSignerPin;       // its item's SIGNER pins: who may sign it (none = no item pin)

private:
    // Reads the FILE's FILESHA256 and PATCH elements; a malformed one is
    // passed over (the file is fetched whole), never the file refused.
    void ReadPatches(const pugi::xml_node& element);
};
