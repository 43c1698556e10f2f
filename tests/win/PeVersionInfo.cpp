// Prints the version resource of a Windows PE file (DLL or EXE), one
// "key=value" line each, without any Windows API, so the identity of Trax.dll
// can be checked on the build machine:
//   FixedFileVersion=2.2.0.0
//   FixedProductVersion=2.2.0.0
//   040904b0/FileDescription=Trax
//   ...
// Built for the build machine, not for Windows. Every offset read from the
// file is checked against the file size before it is used.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class Reader {
public:
    explicit Reader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    uint16_t U16(uint64_t offset) const {
        if (!Has(offset, 2)) throw std::string("read past the end of the file");
        return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    uint32_t U32(uint64_t offset) const { return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16; }
    size_t size() const { return bytes_.size(); }

    // UTF-16 text up to its NUL, limited to `end`; non-ASCII shows as '?'.
    std::string Text(uint64_t offset, uint64_t end, uint64_t* after) const {
        std::string text;
        while (offset + 2 <= end) {
            const uint16_t c = U16(offset);
            offset += 2;
            if (c == 0) break;
            text.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        *after = offset;
        return text;
    }

private:
    std::vector<uint8_t> bytes_;
};

uint64_t Align4(uint64_t value) { return (value + 3) & ~uint64_t{3}; }

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

uint64_t FileOffset(const std::vector<Section>& sections, uint32_t rva) {
    for (const Section& s : sections) {
        const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span)
            return uint64_t{s.rawOffset} + (rva - s.virtualAddress);
    }
    throw std::string("address outside every section");
}

// The first entry of a resource directory whose id matches (any id when
// wanted < 0): the offset of its subdirectory or data entry within .rsrc.
uint32_t FindEntry(const Reader& r, uint64_t rsrc, uint32_t directory, int wanted) {
    const uint64_t at = rsrc + directory;
    const uint32_t named = r.U16(at + 12), ids = r.U16(at + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
        const uint64_t entry = at + 16 + 8 * uint64_t{i};
        const uint32_t name = r.U32(entry);
        if (wanted >= 0 && ((name & 0x80000000u) != 0 || name != static_cast<uint32_t>(wanted))) continue;
        return r.U32(entry + 4);
    }
    throw std::string("no version resource");
}

// One VS_VERSIONINFO-style block: length, value length, type, key, value,
// children. Prints the fixed versions and every string.
void Walk(const Reader& r, uint64_t at, uint64_t end, const std::string& path, int depth) {
    if (depth > 4) throw std::string("version blocks nested too deep");
    const uint16_t length = r.U16(at), valueLength = r.U16(at + 2), type = r.U16(at + 4);
    const uint64_t blockEnd = at + length;
    if (length < 6 || blockEnd > end) throw std::string("version block overruns its parent");
    uint64_t after = 0;
    const std::string key = r.Text(at + 6, blockEnd, &after);
    uint64_t value = Align4(after);
    if (depth == 0) {
        if (key != "VS_VERSION_INFO") throw std::string("not a VS_VERSION_INFO block");
        if (valueLength >= 52 && r.Has(value, 52) && r.U32(value) == 0xFEEF04BDu) {
            std::printf("FixedFileVersion=%u.%u.%u.%u\n", r.U32(value + 8) >> 16, r.U32(value + 8) & 0xFFFF,
                        r.U32(value + 12) >> 16, r.U32(value + 12) & 0xFFFF);
            std::printf("FixedProductVersion=%u.%u.%u.%u\n", r.U32(value + 16) >> 16, r.U32(value + 16) & 0xFFFF,
                        r.U32(value + 20) >> 16, r.U32(value + 20) & 0xFFFF);
        }
    } else if (path.rfind("StringFileInfo/", 0) == 0 && depth == 3 && type == 1) {
        // A string: valueLength counts UTF-16 units including the NUL.
        std::printf("%s/%s=%s\n", path.substr(15).c_str(), key.c_str(), r.Text(value, blockEnd, &after).c_str());
    }
    // Text values are counted in characters, binary ones in bytes.
    const uint64_t valueBytes = type == 1 ? uint64_t{valueLength} * 2 : valueLength;
    uint64_t child = Align4(value + valueBytes);
    const std::string childPath = depth == 0 ? "" : (path.empty() ? key : path + "/" + key);
    while (child + 6 <= blockEnd) {
        const uint16_t childLength = r.U16(child);
        if (childLength == 0) break;
        Walk(r, child, blockEnd, childPath, depth + 1);
        child = Align4(child + childLength);
    }
}

void PrintVersion(const Reader& r) {
    if (r.U16(0) != 0x5A4D) throw std::string("not an MZ file");
    const uint32_t pe = r.U32(0x3C);
    if (r.U32(pe) != 0x00004550u) throw std::string("no PE signature");
    const uint16_t sectionCount = r.U16(pe + 6), optionalSize = r.U16(pe + 20);
    const uint64_t optional = pe + 24;
    const uint16_t magic = r.U16(optional);
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);  // PE32+ or PE32
    const uint32_t rsrcRva = r.U32(directories + 2 * 8);
    if (rsrcRva == 0) throw std::string("no resource directory");

    std::vector<Section> sections;
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t s = table + 40 * uint64_t{i};
        sections.push_back(Section{r.U32(s + 12), r.U32(s + 8), r.U32(s + 20), r.U32(s + 16)});
    }
    const uint64_t rsrc = FileOffset(sections, rsrcRva);
    // Type 16 (RT_VERSION), then the first name, then the first language.
    uint32_t entry = FindEntry(r, rsrc, 0, 16);
    for (int level = 0; level < 2; ++level) {
        if ((entry & 0x80000000u) == 0) throw std::string("malformed resource tree");
        entry = FindEntry(r, rsrc, entry & 0x7FFFFFFFu, -1);
    }
    if ((entry & 0x80000000u) != 0) throw std::string("malformed resource tree");
    const uint32_t dataRva = r.U32(rsrc + entry), dataSize = r.U32(rsrc + entry + 4);
    const uint64_t data = FileOffset(sections, dataRva);
    if (!r.Has(data, dataSize)) throw std::string("version resource overruns the file");
    Walk(r, data, data + dataSize, "", 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.dll\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[1]);
        return 1;
    }
    Reader reader(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    try {
        PrintVersion(reader);
    } catch (const std::string& problem) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], problem.c_str());
        return 1;
    }
    return 0;
}
