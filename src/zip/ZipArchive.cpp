#include "zip/ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace zip {

namespace {

const uint32_t kEndOfCentralDirectory = 0x06054b50;
const uint32_t kZip64Locator = 0x07064b50;
const uint32_t kZip64End = 0x06064b50;
const uint32_t kCentralHeader = 0x02014b50;
const uint32_t kLocalHeader = 0x04034b50;
const size_t kBuffer = 65536;

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
uint64_t U64(const unsigned char* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

int Seek(FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

struct FileCloser {
    void operator()(FILE* f) const { if (f) std::fclose(f); }
};

}  // namespace

const char* ResultText(Result result)
{
    switch (result) {
    case Result::Ok: return "ok";
    case Result::NotOpen: return "no archive is open";
    case Result::CannotOpen: return "the archive cannot be read";
    case Result::NotAnArchive: return "not a ZIP archive";
    case Result::Corrupt: return "the archive is corrupt";
    case Result::Unsupported: return "unsupported entry";
    case Result::UnsafeName: return "an entry name leads outside the folder";
    case Result::BadIndex: return "no such entry";
    case Result::CrcMismatch: return "CRC-32 mismatch";
    case Result::WriteFailed: return "the entry could not be written";
    case Result::Aborted: return "aborted";
    case Result::TooLarge: return "the archive unpacks to more than it declares or than is allowed";
    case Result::BadName: return "an entry name cannot be written in the system's code page";
    }
    return "unknown";
}

bool Archive::ReadAt(uint64_t offset, void* buffer, size_t size)
{
    if (offset > m_fileSize || size > m_fileSize - offset) return false;
    if (Seek(m_file, offset) != 0) return false;
    return std::fread(buffer, 1, size, m_file) == size;
}

Result Archive::Open(const std::string& path)
{
    Close();
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) return Result::CannotOpen;
#ifdef _WIN32
    _fseeki64(m_file, 0, SEEK_END);
    long long end = _ftelli64(m_file);
#else
    fseeko(m_file, 0, SEEK_END);
    long long end = ftello(m_file);
#endif
    m_fileSize = end < 0 ? 0 : static_cast<uint64_t>(end);
    Result result;
    try {
        result = ReadCentralDirectory();
    } catch (const std::bad_alloc&) {
        result = Result::TooLarge;
    }
    if (result != Result::Ok) Close();
    return result;
}

// Every entry's data lies before the next entry and before the central
// directory: two records that share data (the overlapping "zip bomb") are
// refused, and so is an archive declaring more than the ceiling.
Result Archive::CheckLayout(uint64_t directoryOffset)
{
    m_declaredBytes = 0;
    m_writtenBytes = 0;
    std::vector<std::pair<uint64_t, uint64_t>> spans;   // (local header, end of its data at the least)
    spans.reserve(m_entries.size());
    for (const Entry& entry : m_entries) {
        m_declaredBytes += entry.size;
        if (entry.size > kMaxUnpackedBytes || m_declaredBytes > kMaxUnpackedBytes) return Result::TooLarge;
        if (entry.localHeaderOffset > m_fileSize || entry.compressedSize > m_fileSize) return Result::Corrupt;
        spans.emplace_back(entry.localHeaderOffset, entry.localHeaderOffset + 30 + entry.compressedSize);
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 0; i < spans.size(); ++i) {
        uint64_t next = i + 1 < spans.size() ? spans[i + 1].first : directoryOffset;
        if (spans[i].second > next) return Result::Corrupt;
    }
    for (Entry& entry : m_entries) {
        auto after = std::upper_bound(spans.begin(), spans.end(), std::make_pair(entry.localHeaderOffset, UINT64_MAX));
        entry.dataLimit = after == spans.end() ? directoryOffset : after->first;
    }
    return Result::Ok;
}

Result Archive::ReadCentralDirectory()
{
    if (m_fileSize < 22) return Result::NotAnArchive;
    // The end record lies in the last 22 + 65535 bytes.
    const uint64_t window = std::min<uint64_t>(m_fileSize, 22 + 65535);
    std::vector<unsigned char> tail(static_cast<size_t>(window));
    if (!ReadAt(m_fileSize - window, tail.data(), tail.size())) return Result::Corrupt;
    size_t at = tail.size() - 22 + 1;
    bool found = false;
    while (at-- > 0) {
        if (U32(&tail[at]) == kEndOfCentralDirectory) { found = true; break; }
    }
    if (!found) return Result::NotAnArchive;
    const unsigned char* end = &tail[at];
    const uint64_t endOffset = m_fileSize - window + at;
    uint64_t count = U16(end + 10);
    uint64_t directorySize = U32(end + 12);
    uint64_t directoryOffset = U32(end + 16);

    if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
        unsigned char locator[20];
        if (endOffset < 20 || !ReadAt(endOffset - 20, locator, sizeof(locator)) || U32(locator) != kZip64Locator)
            return Result::Corrupt;
        unsigned char record[56];
        if (!ReadAt(U64(locator + 8), record, sizeof(record)) || U32(record) != kZip64End) return Result::Corrupt;
        count = U64(record + 32);
        directorySize = U64(record + 40);
        directoryOffset = U64(record + 48);
    }
    if (directoryOffset > m_fileSize || directorySize > m_fileSize - directoryOffset) return Result::Corrupt;
    if (directorySize > kMaxDirectoryBytes) return Result::TooLarge;
    // Every central header takes at least 46 bytes.
    if (count > directorySize / 46) return Result::Corrupt;

    std::vector<unsigned char> directory(static_cast<size_t>(directorySize));
    if (!ReadAt(directoryOffset, directory.data(), directory.size())) return Result::Corrupt;
    size_t pos = 0;
    m_entries.clear();
    for (uint64_t i = 0; i < count; ++i) {
        if (directory.size() - pos < 46 || U32(&directory[pos]) != kCentralHeader) return Result::Corrupt;
        const unsigned char* h = &directory[pos];
        Entry entry;
        entry.flags = U16(h + 8);
        entry.method = U16(h + 10);
        entry.crc = U32(h + 16);
        entry.compressedSize = U32(h + 20);
        entry.size = U32(h + 24);
        size_t nameLength = U16(h + 28), extraLength = U16(h + 30), commentLength = U16(h + 32);
        entry.localHeaderOffset = U32(h + 42);
        if (directory.size() - pos - 46 < nameLength + extraLength + commentLength) return Result::Corrupt;
        entry.name.assign(reinterpret_cast<const char*>(h + 46), nameLength);
        // ZIP64 sizes and offset, in this order, for the fields that overflowed.
        const unsigned char* extra = h + 46 + nameLength;
        for (size_t e = 0; e + 4 <= extraLength;) {
            uint16_t id = U16(extra + e), length = U16(extra + e + 2);
            if (e + 4 + length > extraLength) break;
            if (id == 0x0001) {
                const unsigned char* field = extra + e + 4;
                size_t left = length;
                auto take = [&](uint64_t& value) {
                    if (value != 0xFFFFFFFF) return;
                    if (left < 8) return;
                    value = U64(field);
                    field += 8;
                    left -= 8;
                };
                take(entry.size);
                take(entry.compressedSize);
                take(entry.localHeaderOffset);
            }
            e += 4 + length;
        }
        m_entries.push_back(std::move(entry));
        pos += 46 + nameLength + extraLength + commentLength;
    }
    return CheckLayout(directoryOffset);
}

std::string Archive::SafeRelativePath(const std::string& name, char separator)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\') return std::string();
    if (name.size() >= 2 && name[1] == ':') return std::string();
    std::string out, part;
    // Names Windows takes for devices, with any extension: writing "aux.txt"
    // opens the AUX device.
    auto isDevice = [](const std::string& text) {
        std::string base = text.substr(0, text.find('.'));
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (char& c : base) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
        if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
        return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
               base[3] >= '1' && base[3] <= '9';
    };
    auto flush = [&]() -> bool {
        if (part.empty() || part == ".") { part.clear(); return true; }
        if (part == "..") return false;
        if (part.find(':') != std::string::npos) return false;
        if (part.back() == '.' || part.back() == ' ' || isDevice(part)) return false;
        if (!out.empty()) out += separator;
        out += part;
        part.clear();
        return true;
    };
    for (char c : name) {
        if (c == '/' || c == '\\') {
            if (!flush()) return std::string();
        } else if (c == '\0') {
            return std::string();
        } else {
            part += c;
        }
    }
    if (!flush()) return std::string();
    return out;
}

// The local header repeats what the directory says of an entry; an archive
// where the two disagree (another name, method, encryption or, without a
// data descriptor, CRC or sizes) is refused, since other unpackers follow
// the local header and would see other files than were checked here.
bool Archive::LocalHeaderAgrees(const Entry& entry, const unsigned char* local)
{
    const uint16_t flags = U16(local + 6);
    if (U16(local + 8) != entry.method || (flags & 0x0001) != (entry.flags & 0x0001)) return false;
    if (!(flags & 0x0008)) {
        auto same = [](uint32_t stated, uint64_t central) { return stated == 0xFFFFFFFF || stated == central; };
        if (U32(local + 14) != entry.crc || !same(U32(local + 18), entry.compressedSize) ||
            !same(U32(local + 22), entry.size))
            return false;
    }
    const size_t nameLength = U16(local + 26);
    if (nameLength != entry.name.size()) return false;
    std::string name(nameLength, '\0');
    return ReadAt(entry.localHeaderOffset + 30, &name[0], nameLength) && name == entry.name;
}

Result Archive::Extract(size_t index, const std::string& folder, const Progress& progress)
{
    try {
        return ExtractEntry(index, folder, progress);
    } catch (const std::bad_alloc&) {
        return Result::TooLarge;
    }
}

Result Archive::ExtractEntry(size_t index, const std::string& folder, const Progress& progress)
{
    if (!m_file) return Result::NotOpen;
    if (index >= m_entries.size()) return Result::BadIndex;
    const Entry& entry = m_entries[index];
    std::string name = entry.name;
    if ((entry.flags & 0x0800) && m_convertUtf8 && !m_convertUtf8(entry.name, name)) return Result::BadName;
    const std::string relative = SafeRelativePath(name, m_separator);
    if (relative.empty()) return Result::UnsafeName;
    if (m_writtenBytes + entry.size > m_declaredBytes) return Result::TooLarge;   // an entry unpacked twice
    if (entry.flags & 0x0001) return Result::Unsupported;   // encrypted
    if (!entry.IsFolder() && entry.method != 0 && entry.method != 8) return Result::Unsupported;

    // The folders on the way, each inside the last.
    std::string path = folder;
    size_t start = 0;
    while (true) {
        size_t next = relative.find(m_separator, start);
        bool last = next == std::string::npos;
        std::string part = relative.substr(start, last ? std::string::npos : next - start);
        std::string child = path + m_separator + part;
        if (last && !entry.IsFolder()) { path = child; break; }
        if (!m_makeFolder || !m_makeFolder(child)) return Result::WriteFailed;
        path = child;
        if (last) return Result::Ok;   // a folder entry
        start = next + 1;
    }

    unsigned char local[30];
    if (!ReadAt(entry.localHeaderOffset, local, sizeof(local)) || U32(local) != kLocalHeader) return Result::Corrupt;
    if (!LocalHeaderAgrees(entry, local)) return Result::Corrupt;
    const uint64_t dataOffset = entry.localHeaderOffset + 30 + U16(local + 26) + U16(local + 28);
    if (dataOffset > entry.dataLimit || entry.compressedSize > entry.dataLimit - dataOffset) return Result::Corrupt;
    if (entry.method == 0 && entry.compressedSize != entry.size) return Result::Corrupt;

    // Written beside its place first: a failure leaves nothing behind and an
    // existing file as it was. Whatever lies at the temporary name goes
    // first, so that nothing is written through a link planted there.
    const std::string temporary = path + ".zpart";
    std::remove(temporary.c_str());
    std::unique_ptr<FILE, FileCloser> out(std::fopen(temporary.c_str(), "wb"));
    if (!out) return Result::WriteFailed;
    if (progress && !progress(entry.name, 0, entry.size)) {
        out.reset();
        std::remove(temporary.c_str());
        return Result::Aborted;
    }

    std::vector<unsigned char> in(kBuffer), buffer(kBuffer);
    uint64_t readSoFar = 0, written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    z_stream stream = {};
    bool inflating = entry.method == 8;
    if (inflating && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        out.reset();
        std::remove(temporary.c_str());
        return Result::Corrupt;
    }
    struct InflateEnd {
        z_stream* s;
        bool on;
        ~InflateEnd() { if (on) inflateEnd(s); }
    } cleanup{&stream, inflating};

    Result result = Result::Ok;
    bool streamEnd = !inflating && entry.compressedSize == 0;
    while (result == Result::Ok && !streamEnd) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(kBuffer, entry.compressedSize - readSoFar));
        if (chunk == 0 && !inflating) break;
        if (chunk == 0) { result = Result::Corrupt; break; }   // deflate data ended early
        if (!ReadAt(dataOffset + readSoFar, in.data(), chunk)) { result = Result::Corrupt; break; }
        readSoFar += chunk;
        if (!inflating) {
            if (std::fwrite(in.data(), 1, chunk, out.get()) != chunk) { result = Result::WriteFailed; break; }
            crc = crc32(crc, in.data(), static_cast<uInt>(chunk));
            written += chunk;
            if (readSoFar == entry.compressedSize) streamEnd = true;
        } else {
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(chunk);
            while (stream.avail_in > 0 || !streamEnd) {
                stream.next_out = buffer.data();
                stream.avail_out = static_cast<uInt>(buffer.size());
                int z = inflate(&stream, Z_NO_FLUSH);
                size_t produced = buffer.size() - stream.avail_out;
                if (written + produced > entry.size) { result = Result::Corrupt; break; }
                if (produced && std::fwrite(buffer.data(), 1, produced, out.get()) != produced) {
                    result = Result::WriteFailed;
                    break;
                }
                crc = crc32(crc, buffer.data(), static_cast<uInt>(produced));
                written += produced;
                if (z == Z_STREAM_END) { streamEnd = true; break; }
                if (z != Z_OK && z != Z_BUF_ERROR) { result = Result::Corrupt; break; }
                if (produced == 0 && stream.avail_in == 0) break;   // needs more input
                if (z == Z_BUF_ERROR && produced == 0) { result = Result::Corrupt; break; }
            }
        }
        if (result == Result::Ok && progress && !progress(entry.name, written, entry.size)) result = Result::Aborted;
    }
    if (std::fclose(out.release()) != 0 && result == Result::Ok) result = Result::WriteFailed;
    if (result == Result::Ok && written != entry.size) result = Result::Corrupt;
    if (result == Result::Ok && crc != entry.crc) result = Result::CrcMismatch;
    if (result == Result::Ok) {
        // The old file (or a link in its place) goes; the new one takes its name.
        std::remove(path.c_str());
        if (std::rename(temporary.c_str(), path.c_str()) != 0) result = Result::WriteFailed;
    }
    if (result != Result::Ok) {
        std::remove(temporary.c_str());
        return result;
    }
    m_writtenBytes += written;
    return result;
}

void Archive::Close()
{
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_fileSize = 0;
    m_entries.clear();
    m_declaredBytes = m_writtenBytes = 0;
}

}  // namespace zip
