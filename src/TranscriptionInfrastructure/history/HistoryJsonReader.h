#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// A strict JSON reader of the history file that fills the records directly. Every method returns false on the
// first error. Reads one buffer once; not thread-safe.
class HistoryJsonReader {
public:
    // Reads `bytes`, which must outlive the reader; a UTF-8 byte order mark is skipped.
    explicit HistoryJsonReader(std::string_view bytes);

    // Reads a whole current-layout file: an object with an integer "version" and "sessions".
    bool readStore(std::vector<TranscriptSession>& sessions);
    // Reads a whole old-layout file: an object with "lines".
    bool readLegacy(std::vector<FinalizedLine>& lines);

protected:
    static constexpr int kMaxDepth = 512;

    // One session object; "id", "lines" and "startedAt" are required, "endedAt" may be null or absent.
    bool readSession(TranscriptSession& session);
    // An array of line objects.
    bool readLines(std::vector<FinalizedLine>& lines);
    // One line object; "id", "text" and "time" are required.
    bool readLine(FinalizedLine& line);
    // The optional keys of a line: a value of another type (null included) is stepped over and leaves the key
    // absent, as a reader that does not know the key would; only broken JSON fails.
    bool readOptionalNumber(std::optional<double>& value, int depth);
    // The optional speaker key of a line; text that names no known speaker leaves it absent.
    bool readSpeaker(std::optional<SpeakerLabel>& speaker, int depth);
    // An object, handing each member's key to onMember, which reads the value.
    template <class OnMember>
    bool readObject(OnMember onMember);
    // An array, calling onElement to read each element.
    template <class OnElement>
    bool readArray(OnElement onElement);
    // A member's key and the colon after it, the key left in m_key.
    bool readMemberKey();
    // A string holding a UUID in Uuid::fromString's form.
    bool readUuid(Uuid& id);
    // A string, its escapes decoded, appended to `out`; control characters and bytes that are not UTF-8 fail.
    bool readString(std::string& out);
    // The escape after a backslash, appended to `out` as UTF-8 (surrogate pairs joined).
    bool readEscape(std::string& out);
    // Four hexadecimal digits.
    bool readHex4(std::uint32_t& value);
    // Scans a number by JSON's grammar; tells whether it had a fraction or an exponent.
    bool scanNumber(const char*& start, bool& integral);
    // A number, as a double.
    bool readNumber(double& value);
    // A whole number (2.0 and 2e0 count) that fits in 64 bits.
    bool readInteger(std::int64_t& value);
    // Steps over decimal digits; false when there is none.
    bool skipDigits();
    // Steps over any value, nested at most kMaxDepth deep.
    bool skipValue(int depth);
    // Steps over `literal` when the text continues with it.
    bool consumeLiteral(std::string_view literal);
    // Steps over `c` when it comes next.
    bool consume(char c);
    // Steps over JSON whitespace.
    void skipWhitespace();
    // True when only whitespace is left.
    bool atEnd();

    const char* m_pos;
    const char* m_end;
    std::string m_key;
    std::string m_scratch;
};

} // namespace tc
