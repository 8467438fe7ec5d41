// A small reader of ZIP archives (stored and deflated entries, ZIP64 sizes),
// on zlib and standard C++ only, so that it also builds natively for the
// fuzz target. Errors are results, never exceptions. Entries are extracted
// into a folder the caller names; nothing is written outside it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zip {

enum class Result {
    Ok = 0,
    NotOpen,          // no archive is open
    CannotOpen,       // the file cannot be read
    NotAnArchive,     // no end of central directory
    Corrupt,          // a header or size does not hold together
    Unsupported,      // encryption, or a method other than stored and deflate
    UnsafeName,       // an entry would land outside the folder
    BadIndex,
    CrcMismatch,
    WriteFailed,
    Aborted,          // the progress callback asked to stop
    TooLarge,         // beyond the archive's declared sizes or the ceiling
    BadName,          // a UTF-8 name the file system's code page cannot hold
};

// The most an archive may unpack to, whatever it declares (1 GiB), and the
// largest central directory read (64 MiB).
constexpr uint64_t kMaxUnpackedBytes = 1ull << 30;
constexpr uint64_t kMaxDirectoryBytes = 64ull << 20;

const char* ResultText(Result result);

struct Entry {
    std::string name;           // as stored, "/" separated
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    uint64_t dataLimit = 0;     // where the next entry or the directory begins
    bool IsFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
};

// Progress of one extraction: (entry name, bytes written, entry size);
// returning false aborts it.
using Progress = std::function<bool(const std::string& name, uint64_t done, uint64_t total)>;
// Creates one folder (its parent exists); true when it exists afterwards and
// may be written into.
using MakeFolder = std::function<bool(const std::string& path)>;
// Turns a name stored as UTF-8 (general-purpose flag bit 11) into the file
// system's text; false when it cannot be held there.
using NameConverter = std::function<bool(const std::string& utf8, std::string& local)>;

class Archive {
public:
    Archive(MakeFolder makeFolder, char separator) : m_makeFolder(std::move(makeFolder)), m_separator(separator) {}
    ~Archive() { Close(); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Names flagged as UTF-8 go through converter (none: used as stored).
    void SetUtf8Converter(NameConverter converter) { m_convertUtf8 = std::move(converter); }

    Result Open(const std::string& path);
    size_t EntryCount() const { return m_entries.size(); }
    const Entry& GetEntry(size_t index) const { return m_entries.at(index); }
    // Extracts one entry into folder, keeping its stored path. The entry is
    // written beside its place and put there only when it is complete: a
    // failure leaves no file and an existing one untouched.
    Result Extract(size_t index, const std::string& folder, const Progress& progress = nullptr);
    void Close();

    // The stored name as a path below the folder, or "" when it is unsafe
    // (absolute, a drive, "..", empty, a device name such as CON or LPT1.txt,
    // or a part that ends in a dot or a blank).
    static std::string SafeRelativePath(const std::string& name, char separator);

private:
    Result ReadCentralDirectory();
    Result CheckLayout(uint64_t directoryOffset);
    bool LocalHeaderAgrees(const Entry& entry, const unsigned char* local);
    Result ExtractEntry(size_t index, const std::string& folder, const Progress& progress);
    bool ReadAt(uint64_t offset, void* buffer, size_t size);

    MakeFolder m_makeFolder;
    NameConverter m_convertUtf8;
    char m_separator;
    uint64_t m_declaredBytes = 0;   // the sum of the entries' sizes
    uint64_t m_writtenBytes = 0;    // what the extractions wrote so far
    FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    std::vector<Entry> m_entries;
};

}  // namespace zip
