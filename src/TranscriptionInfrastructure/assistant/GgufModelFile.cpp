#include "TranscriptionInfrastructure/assistant/GgufModelFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace tc {

namespace {

using Format = GgufModelFile::Format;

enum ValueType : std::uint32_t {
    u8 = 0,
    i8,
    u16,
    i16,
    u32,
    i32,
    f32,
    boolean,
    string,
    array,
    u64,
    i64,
    f64,
};

constexpr std::uint32_t kMaxDimensions = 4;

std::optional<std::uint64_t> scalarBytes(std::uint32_t type)
{
    switch (type) {
    case u8:
    case i8:
    case boolean: return 1;
    case u16:
    case i16: return 2;
    case u32:
    case i32:
    case f32: return 4;
    case u64:
    case i64:
    case f64: return 8;
    default: return std::nullopt;
    }
}

// Elements per block and bytes per block of ggml's tensor types; types not listed are not checked.
std::optional<std::pair<std::uint64_t, std::uint64_t>> blockOf(std::uint32_t type)
{
    switch (type) {
    case 0: return {{1, 4}};      // F32
    case 1: return {{1, 2}};      // F16
    case 2: return {{32, 18}};    // Q4_0
    case 3: return {{32, 20}};    // Q4_1
    case 6: return {{32, 22}};    // Q5_0
    case 7: return {{32, 24}};    // Q5_1
    case 8: return {{32, 34}};    // Q8_0
    case 10: return {{256, 84}};  // Q2_K
    case 11: return {{256, 110}}; // Q3_K
    case 12: return {{256, 144}}; // Q4_K
    case 13: return {{256, 176}}; // Q5_K
    case 14: return {{256, 210}}; // Q6_K
    case 30: return {{1, 2}};     // BF16
    default: return std::nullopt;
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class Reader {
public:
    explicit Reader(std::FILE* file, std::uintmax_t size) : m_file(file), m_size(size) {}

    bool read(void* out, std::size_t bytes)
    {
        if (m_position + bytes > m_size) return false;
        if (std::fread(out, 1, bytes, m_file) != bytes) return false;
        m_position += bytes;
        return true;
    }
    template <class T>
    std::optional<T> value()
    {
        T v{};
        if (!read(&v, sizeof v)) return std::nullopt;
        return v;
    }
    bool skip(std::uint64_t bytes)
    {
        if (bytes > m_size - m_position) return false;
        if (bytes < 4096) {
            char scratch[4096];
            return read(scratch, static_cast<std::size_t>(bytes));
        }
        if (std::fseek(m_file, static_cast<long>(m_position + bytes), SEEK_SET) != 0) return false;
        m_position += bytes;
        return true;
    }
    std::optional<std::string> text(std::size_t keepAtMost)
    {
        const auto length = value<std::uint64_t>();
        if (!length || *length > m_size - m_position) return std::nullopt;
        if (*length > keepAtMost) {
            if (!skip(*length)) return std::nullopt;
            return std::string(); // only its presence matters
        }
        std::string s(static_cast<std::size_t>(*length), '\0');
        if (!read(s.data(), s.size())) return std::nullopt;
        return s;
    }
    std::uint64_t position() const { return m_position; }
    std::uintmax_t size() const { return m_size; }

private:
    std::FILE* m_file;
    std::uintmax_t m_size;
    std::uint64_t m_position = 0;
};

bool skipValue(Reader& reader, std::uint32_t type)
{
    if (const auto bytes = scalarBytes(type)) return reader.skip(*bytes);
    if (type == string) return reader.text(0).has_value();
    if (type != array) return false;
    const auto elementType = reader.value<std::uint32_t>();
    const auto count = reader.value<std::uint64_t>();
    if (!elementType || !count) return false;
    if (const auto bytes = scalarBytes(*elementType)) {
        if (*count > reader.size() / *bytes) return false;
        return reader.skip(*count * *bytes);
    }
    if (*elementType != string || *count > reader.size()) return false;
    for (std::uint64_t i = 0; i < *count; ++i)
        if (!reader.text(0)) return false;
    return true;
}

// Reads one metadata entry into what the inspection reports and the data alignment; false when it breaks off.
bool readEntry(Reader& reader, GgufModelFile::Inspection& inspection, std::uint64_t& alignment)
{
    const auto key = reader.text(256);
    const auto type = reader.value<std::uint32_t>();
    if (!key || !type) return false;
    if (*key == "tokenizer.chat_template" && *type == string) {
        const auto length = reader.value<std::uint64_t>();
        if (!length || !reader.skip(*length)) return false;
        inspection.hasChatTemplate = *length > 0;
    } else if (*key == "general.architecture" && *type == string) {
        const auto name = reader.text(256);
        if (!name) return false;
        inspection.architecture = *name;
    } else if (*key == "general.alignment" && *type == u32) {
        const auto value = reader.value<std::uint32_t>();
        if (!value || *value == 0) return false;
        alignment = *value;
    } else if (!skipValue(reader, *type)) {
        return false;
    }
    return true;
}

// Where the last tensor's data ends, counted from the start of the data; nothing when the infos break off.
std::optional<std::uint64_t> readTensorInfos(Reader& reader, std::uint64_t tensors)
{
    std::uint64_t dataEnd = 0;
    for (std::uint64_t i = 0; i < tensors; ++i) {
        const auto name = reader.text(0);
        const auto dimensions = reader.value<std::uint32_t>();
        if (!name || !dimensions || *dimensions > kMaxDimensions) return std::nullopt;
        std::uint64_t elements = 1;
        for (std::uint32_t d = 0; d < *dimensions; ++d) {
            const auto extent = reader.value<std::uint64_t>();
            if (!extent) return std::nullopt;
            elements *= *extent;
        }
        const auto type = reader.value<std::uint32_t>();
        const auto offset = reader.value<std::uint64_t>();
        if (!type || !offset) return std::nullopt;
        std::uint64_t bytes = 1;
        if (const auto block = blockOf(*type)) bytes = elements / block->first * block->second;
        dataEnd = std::max(dataEnd, *offset + bytes);
    }
    return dataEnd;
}

// Reads the header after the magic: version, counts, metadata and tensor infos, the tensors within the file.
Format readHeader(Reader& reader, GgufModelFile::Inspection& inspection)
{
    const auto version = reader.value<std::uint32_t>();
    const auto tensors = reader.value<std::uint64_t>();
    const auto entries = reader.value<std::uint64_t>();
    if (!version || *version < 2 || !tensors || !entries) return Format::truncated;

    std::uint64_t alignment = 32;
    for (std::uint64_t i = 0; i < *entries; ++i)
        if (!readEntry(reader, inspection, alignment)) return Format::truncated;
    const auto dataEnd = readTensorInfos(reader, *tensors);
    if (!dataEnd) return Format::truncated;
    const std::uint64_t dataStart = (reader.position() + alignment - 1) / alignment * alignment;
    if (*dataEnd > 0 && dataStart + *dataEnd > inspection.fileBytes) return Format::truncated;
    return Format::gguf;
}

} // namespace

GgufModelFile::Inspection GgufModelFile::inspect(const std::filesystem::path& file)
{
    Inspection inspection;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return inspection;
    inspection.fileBytes = std::filesystem::file_size(file, error);
    if (error) return inspection;
    std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(file.c_str(), "rb"));
    if (!stream) return inspection;
    std::setvbuf(stream.get(), nullptr, _IOFBF, 1 << 20);
    Reader reader(stream.get(), inspection.fileBytes);

    char magic[4] = {};
    if (!reader.read(magic, sizeof magic) || std::memcmp(magic, "GGUF", 4) != 0) {
        inspection.format = Format::notGguf;
        return inspection;
    }
    inspection.format = readHeader(reader, inspection);
    return inspection;
}

} // namespace tc
