#include "TranscriptionInfrastructure/speech/WhisperModelFileCheck.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tc {

namespace {

using Problem = WhisperModelFileCheck::Problem;
using Failure = WhisperModelFileCheck::Failure;

// "ggml" as the engine's loader reads it.
constexpr std::uint32_t kMagic = 0x67676d6c;
// Vocabulary sizes the engine can map onto its language table: English-only, multilingual, and multilingual with
// one more language (large-v3). Anything larger makes it look up languages it does not have.
constexpr std::int32_t kSmallestVocabulary = 51864;
constexpr std::int32_t kLargestVocabulary = 51866;
constexpr std::int32_t kQuantizationVersionFactor = 1000;

// ggml's element types that whisper.cpp models use: elements per block and bytes per block.
struct ElementType {
    std::int64_t block = 1;
    std::int64_t bytes = 4;
};

enum : std::int32_t { kF32 = 0, kF16 = 1 };

std::optional<ElementType> elementType(std::int32_t type)
{
    switch (type) {
    case 0: return ElementType{1, 4};     // f32
    case 1: return ElementType{1, 2};     // f16
    case 30: return ElementType{1, 2};    // bf16
    case 2: return ElementType{32, 18};   // q4_0
    case 3: return ElementType{32, 20};   // q4_1
    case 6: return ElementType{32, 22};   // q5_0
    case 7: return ElementType{32, 24};   // q5_1
    case 8: return ElementType{32, 34};   // q8_0
    case 10: return ElementType{256, 84}; // q2_K
    case 11: return ElementType{256, 110};
    case 12: return ElementType{256, 144};
    case 13: return ElementType{256, 176};
    case 14: return ElementType{256, 210}; // q6_K
    default: return std::nullopt;
    }
}

// The weight type for the file type (after removing the quantisation version), as the engine maps it.
std::optional<std::int32_t> weightTypeOf(std::int32_t fileType)
{
    static const std::map<std::int32_t, std::int32_t> types{
        {0, 0},   {1, 1},   {2, 2},   {3, 3},   {7, 8},   {8, 6},   {9, 7},
        {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}, {24, 30},
    };
    const auto it = types.find(fileType);
    return it == types.end() ? std::nullopt : std::optional(it->second);
}

// File types the engine knows but this check does not (importance-matrix and other rare quantisations).
bool isOtherKnownFileType(std::int32_t fileType)
{
    return (fileType >= 15 && fileType <= 23) || (fileType >= 25 && fileType <= 27);
}

Unexpected<Failure> damaged(std::string reason)
{
    return Unexpected{Failure{Problem::damaged, std::move(reason)}};
}

const std::string kTruncated = "ファイルが途中で終わっています";

// Reads little-endian fields from the stream, never past size.
class Reader {
public:
    Reader(std::istream& in, std::uint64_t size) : m_in(in), m_size(size) {}

    std::uint64_t remaining() const { return m_size - m_offset; }

    bool read(void* data, std::uint64_t bytes)
    {
        if (bytes > remaining()) return false;
        m_in.read(static_cast<char*>(data), static_cast<std::streamsize>(bytes));
        if (!m_in) return false;
        m_offset += bytes;
        return true;
    }

    template <class T>
    std::optional<T> field()
    {
        std::array<unsigned char, sizeof(T)> bytes{};
        if (!read(bytes.data(), bytes.size())) return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
        return static_cast<T>(value);
    }

    bool skip(std::uint64_t bytes)
    {
        if (bytes > remaining()) return false;
        m_in.seekg(static_cast<std::streamoff>(bytes), std::ios::cur);
        if (!m_in) return false;
        m_offset += bytes;
        return true;
    }

private:
    std::istream& m_in;
    std::uint64_t m_size;
    std::uint64_t m_offset = 0;
};

struct WantedTensor {
    std::array<std::int64_t, 3> shape{1, 1, 1};
    std::int32_t type = kF32;
    bool seen = false;
};

// Every tensor the engine creates for these hyper-parameters, with its shape and element type.
std::map<std::string, WantedTensor> expectedTensors(const WhisperModelLayout& h, std::int32_t weightType)
{
    const std::int32_t convType = weightType == kF32 ? kF32 : kF16;
    std::map<std::string, WantedTensor> tensors;
    const auto add = [&](const std::string& name, std::int32_t type, std::int64_t a, std::int64_t b = 1) {
        tensors[name] = WantedTensor{{a, b, 1}, type, false};
    };
    const std::int64_t a = h.audioState;
    const std::int64_t t = h.textState;
    add("encoder.positional_embedding", kF32, a, h.audioContext);
    tensors["encoder.conv1.weight"] = WantedTensor{{3, h.mels, a}, convType, false};
    add("encoder.conv1.bias", kF32, 1, a);
    tensors["encoder.conv2.weight"] = WantedTensor{{3, a, a}, convType, false};
    add("encoder.conv2.bias", kF32, 1, a);
    add("encoder.ln_post.weight", kF32, a);
    add("encoder.ln_post.bias", kF32, a);
    const auto block = [&](const std::string& prefix, std::int64_t s, bool cross) {
        add(prefix + "mlp_ln.weight", kF32, s);
        add(prefix + "mlp_ln.bias", kF32, s);
        add(prefix + "mlp.0.weight", weightType, s, 4 * s);
        add(prefix + "mlp.0.bias", kF32, 4 * s);
        add(prefix + "mlp.2.weight", weightType, 4 * s, s);
        add(prefix + "mlp.2.bias", kF32, s);
        std::vector<std::string> attentions{"attn"};
        if (cross) attentions.emplace_back("cross_attn");
        for (const auto& attention : attentions) {
            add(prefix + attention + "_ln.weight", kF32, s);
            add(prefix + attention + "_ln.bias", kF32, s);
            add(prefix + attention + ".query.weight", weightType, s, s);
            add(prefix + attention + ".query.bias", kF32, s);
            add(prefix + attention + ".key.weight", weightType, s, s);
            add(prefix + attention + ".value.weight", weightType, s, s);
            add(prefix + attention + ".value.bias", kF32, s);
            add(prefix + attention + ".out.weight", weightType, s, s);
            add(prefix + attention + ".out.bias", kF32, s);
        }
    };
    for (std::int32_t i = 0; i < h.audioLayers; ++i)
        block("encoder.blocks." + std::to_string(i) + ".", a, false);
    add("decoder.positional_embedding", kF32, t, h.textContext);
    add("decoder.token_embedding.weight", weightType, t, h.vocabularySize);
    add("decoder.ln.weight", kF32, t);
    add("decoder.ln.bias", kF32, t);
    for (std::int32_t i = 0; i < h.textLayers; ++i)
        block("decoder.blocks." + std::to_string(i) + ".", t, true);
    return tensors;
}

std::string shapeText(const std::array<std::int64_t, 3>& shape)
{
    return "[" + std::to_string(shape[0]) + ", " + std::to_string(shape[1]) + ", " + std::to_string(shape[2]) + "]";
}

Expected<void, Failure> checkHyperParameters(const WhisperModelLayout& h)
{
    const auto outOfRange = [](const char* what, std::int32_t value) {
        return damaged(std::string(what) + "（" + std::to_string(value) + "）が不正です");
    };
    if (h.vocabularySize < kSmallestVocabulary || h.vocabularySize > kLargestVocabulary)
        return outOfRange("語彙数", h.vocabularySize);
    if (h.audioContext < 1 || h.audioContext > 65536) return outOfRange("音声の長さ", h.audioContext);
    if (h.audioState < 1 || h.audioState > 16384) return outOfRange("音声側の次元", h.audioState);
    if (h.audioHeads < 1 || h.audioState % h.audioHeads != 0) return outOfRange("音声側のヘッド数", h.audioHeads);
    if (h.audioLayers < 1 || h.audioLayers > 128) return outOfRange("エンコーダーの層の数", h.audioLayers);
    if (h.textContext < 1 || h.textContext > 65536) return outOfRange("テキストの長さ", h.textContext);
    if (h.textState != h.audioState) return outOfRange("テキスト側の次元", h.textState);
    if (h.textHeads < 1 || h.textState % h.textHeads != 0) return outOfRange("テキスト側のヘッド数", h.textHeads);
    if (h.textLayers < 1 || h.textLayers > 128) return outOfRange("デコーダーの層の数", h.textLayers);
    if (h.mels < 1 || h.mels > 512) return outOfRange("メル周波数の数", h.mels);
    return {};
}

// The weight type the engine uses for the file type.
Expected<std::int32_t, Failure> checkFileType(std::int32_t rawFileType)
{
    const std::int32_t fileType = rawFileType % kQuantizationVersionFactor;
    if (rawFileType < 0 || rawFileType / kQuantizationVersionFactor > 2)
        return damaged("重みの形式（" + std::to_string(rawFileType) + "）が不正です");
    if (const auto type = weightTypeOf(fileType)) return *type;
    if (isOtherKnownFileType(fileType))
        return Unexpected{
            Failure{Problem::unsupported, "重みの形式 " + std::to_string(fileType) + " には対応していません"}};
    return damaged("重みの形式（" + std::to_string(rawFileType) + "）が不正です");
}

// The magic number and the hyper-parameters, each within what the engine can handle.
Expected<WhisperModelLayout, Failure> readHyperParameters(Reader& reader)
{
    const auto magic = reader.field<std::uint32_t>();
    if (!magic) return damaged(kTruncated);
    if (*magic != kMagic) return damaged("whisper.cpp のモデルファイルではありません");

    WhisperModelLayout h;
    for (std::int32_t* field : {&h.vocabularySize, &h.audioContext, &h.audioState, &h.audioHeads, &h.audioLayers,
                                &h.textContext, &h.textState, &h.textHeads, &h.textLayers, &h.mels, &h.fileType}) {
        const auto value = reader.field<std::int32_t>();
        if (!value) return damaged(kTruncated);
        *field = *value;
    }
    if (auto checked = checkHyperParameters(h); !checked) return Unexpected{std::move(checked).error()};
    return h;
}

Expected<void, Failure> skipMelFilters(Reader& reader)
{
    const auto filterMels = reader.field<std::int32_t>();
    const auto filterBins = reader.field<std::int32_t>();
    if (!filterMels || !filterBins) return damaged(kTruncated);
    if (*filterMels < 1 || *filterMels > 512 || *filterBins < 1 || *filterBins > 4096)
        return damaged("メルフィルターの大きさ（" + std::to_string(*filterMels) + "×" + std::to_string(*filterBins) +
                       "）が不正です");
    if (!reader.skip(static_cast<std::uint64_t>(*filterMels) * static_cast<std::uint64_t>(*filterBins) * 4))
        return damaged(kTruncated);
    return {};
}

Expected<void, Failure> skipVocabulary(Reader& reader, std::int32_t vocabularySize)
{
    const auto tokens = reader.field<std::int32_t>();
    if (!tokens) return damaged(kTruncated);
    if (*tokens < 1 || *tokens > vocabularySize)
        return damaged("語彙の数（" + std::to_string(*tokens) + "）が不正です");
    for (std::int32_t i = 0; i < *tokens; ++i) {
        const auto length = reader.field<std::uint32_t>();
        if (!length) return damaged(kTruncated);
        if (*length > 1024)
            return damaged("語彙の " + std::to_string(i) + " 番目の長さ（" + std::to_string(*length) + "）が不正です");
        if (!reader.skip(*length)) return damaged(kTruncated);
    }
    return {};
}

struct TensorHeader {
    std::string name;
    std::array<std::int64_t, 3> shape{1, 1, 1};
    std::int32_t type = kF32;
};

Expected<TensorHeader, Failure> readTensorHeader(Reader& reader)
{
    const auto dimensions = reader.field<std::int32_t>();
    const auto nameLength = reader.field<std::int32_t>();
    const auto type = reader.field<std::int32_t>();
    if (!dimensions || !nameLength || !type) return damaged(kTruncated);
    if (*dimensions < 1 || *dimensions > 3)
        return damaged("テンソルの次元数（" + std::to_string(*dimensions) + "）が不正です");
    if (*nameLength < 1 || *nameLength > 256)
        return damaged("テンソル名の長さ（" + std::to_string(*nameLength) + "）が不正です");
    TensorHeader header;
    header.type = *type;
    for (std::int32_t d = 0; d < *dimensions; ++d) {
        const auto extent = reader.field<std::int32_t>();
        if (!extent) return damaged(kTruncated);
        header.shape[static_cast<std::size_t>(d)] = *extent;
    }
    header.name.assign(static_cast<std::size_t>(*nameLength), '\0');
    if (!reader.read(header.name.data(), header.name.size())) return damaged(kTruncated);
    return header;
}

// Bytes of the tensor's data, when it is one the engine expects, seen for the first time, of its shape and type.
Expected<std::uint64_t, Failure> matchTensor(const TensorHeader& tensor, std::map<std::string, WantedTensor>& wanted)
{
    const auto& name = tensor.name;
    const auto it = wanted.find(name);
    if (it == wanted.end()) return damaged("不明なテンソル「" + name + "」があります");
    WantedTensor& want = it->second;
    if (want.seen) return damaged("テンソル「" + name + "」が重複しています");
    want.seen = true;
    if (tensor.shape != want.shape)
        return damaged("テンソル「" + name + "」の形 " + shapeText(tensor.shape) + " が違います（正しくは " +
                       shapeText(want.shape) + "）");
    if (tensor.type != want.type)
        return damaged("テンソル「" + name + "」の型（" + std::to_string(tensor.type) + "）が違います");
    const auto element = elementType(tensor.type);
    if (!element || tensor.shape[0] % element->block != 0)
        return damaged("テンソル「" + name + "」の型（" + std::to_string(tensor.type) + "）が不正です");
    return static_cast<std::uint64_t>(tensor.shape[0] / element->block * element->bytes * tensor.shape[1] *
                                      tensor.shape[2]);
}

// Reads every tensor to the end of the file, counting them and their bytes into h.
Expected<void, Failure> checkTensors(Reader& reader, WhisperModelLayout& h, std::int32_t weightType,
                                     bool allowWeightless)
{
    auto wanted = expectedTensors(h, weightType);
    while (reader.remaining() > 0) {
        const auto tensor = readTensorHeader(reader);
        if (!tensor) return Unexpected{tensor.error()};
        const auto bytes = matchTensor(*tensor, wanted);
        if (!bytes) return Unexpected{bytes.error()};
        if (!reader.skip(*bytes)) return damaged(kTruncated);
        h.weightBytes += *bytes;
        ++h.tensorCount;
    }
    const auto total = static_cast<std::int32_t>(wanted.size());
    if (h.tensorCount == 0 && allowWeightless) return {};
    if (h.tensorCount != total)
        return damaged("テンソルが足りません（" + std::to_string(h.tensorCount) + " / " + std::to_string(total) + "）");
    return {};
}

// The size of the regular file at the path, opened without blocking (a named pipe is refused, not waited on).
Expected<std::uint64_t, Failure> regularFileSize(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Unexpected{Failure{Problem::missing, {}}};
        if (errno == EACCES || errno == EPERM) return Unexpected{Failure{Problem::unreadable, {}}};
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            return Unexpected{Failure{Problem::notAFile, {}}};
        return Unexpected{Failure{Problem::unreadable, {}}};
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) return Unexpected{Failure{Problem::notAFile, {}}};
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace

WhisperModelFileCheck::Result WhisperModelFileCheck::check(std::istream& in, std::uint64_t size, bool allowWeightless)
{
    Reader reader(in, size);
    auto layout = readHyperParameters(reader);
    if (!layout) return layout;
    const auto weightType = checkFileType(layout->fileType);
    if (!weightType) return Unexpected{weightType.error()};
    if (auto skipped = skipMelFilters(reader); !skipped) return Unexpected{std::move(skipped).error()};
    if (auto skipped = skipVocabulary(reader, layout->vocabularySize); !skipped)
        return Unexpected{std::move(skipped).error()};
    if (auto checked = checkTensors(reader, *layout, *weightType, allowWeightless); !checked)
        return Unexpected{std::move(checked).error()};
    return layout;
}

WhisperModelFileCheck::Result WhisperModelFileCheck::check(const std::filesystem::path& file, bool allowWeightless)
{
    const auto size = regularFileSize(file);
    if (!size) return Unexpected{size.error()};
    std::ifstream in(file, std::ios::binary);
    if (!in) return Unexpected{Failure{Problem::unreadable, {}}};
    return check(in, *size, allowWeightless);
}

} // namespace tc
