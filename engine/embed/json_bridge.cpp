// Request bodies become nlohmann::json trees (depth-limited, so the recursion is bounded) and
// are written compactly; responses are read with the library's SAX parser, which is iterative,
// straight into script values, so even a server that answers with a million nested brackets
// costs no stack and only builds the first 65 levels.

#include "engine/embed/json_bridge.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt::bot {
namespace {

using Json = nlohmann::json;

/// Values at this depth or deeper (the top is depth 0) are refused in both directions.
constexpr size_t kNestingLimit = 65;

/// A body that shares one container many times over can describe an exponentially large JSON
/// text in a few lines of script; the conversion gives up past this estimate of its size
/// instead of running for ever or exhausting memory.
constexpr size_t kBodyBudgetBytes = size_t{64} * 1024 * 1024;
constexpr size_t kValueCostBytes = 64;  // roughly what one value costs as a JSON tree node

constexpr const char* kNonJSONValue = "Misskey request data contains a non-JSON CobaltScript value";

class BodyWriter {
public:
    Json convert(const Variable& value, size_t depth)
    {
        if (depth >= kNestingLimit) fail("Misskey request data exceeds the nesting limit");
        charge(kValueCostBytes);
        switch (value.type) {
        case VarType::Not: return nullptr;
        case VarType::Int: return value.asInt();
        case VarType::Float: return floatNumber(value.asFloat());
        case VarType::String: return text(value.asString());
        case VarType::Bool: return value.asBool();
        case VarType::Array: return sequence(value.asArray() ? &value.asArray()->items : nullptr, depth);
        case VarType::Multi: return sequence(value.asMulti() ? &value.asMulti()->values : nullptr, depth);
        case VarType::Table: return object(value.asTable().get(), depth);
        default: fail(kNonJSONValue);  // raw bytes, pointers, functions
        }
    }

private:
    size_t m_spent = 0;

    void charge(size_t bytes)
    {
        m_spent += bytes;
        if (m_spent > kBodyBudgetBytes) fail("Misskey request data is too large");
    }

    /// The shortest decimal text that reads back as the same 32-bit float (0.1f goes out as
    /// 0.1, not 0.100000001490116). Infinity and NaN have no JSON form.
    static Json floatNumber(float number)
    {
        if (!std::isfinite(number)) fail(kNonJSONValue);
        char buffer[32];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, number);
        double widened = static_cast<double>(number);
        std::from_chars(buffer, written.ptr, widened);
        return widened;
    }

    // Strings keep every byte, NUL included (JSON writes it as \u0000): cutting a text short
    // at a zero byte would silently send something else than the script asked for.
    Json text(const std::string& value)
    {
        charge(value.size());
        if (!isValidUTF8(value)) fail(kInvalidUTF8Message);
        return value;
    }

    Json sequence(const std::vector<Variable>* items, size_t depth)
    {
        Json out = Json::array();
        if (!items) return out;
        out.get_ref<Json::array_t&>().reserve(items->size());
        for (const Variable& item : *items) out.push_back(convert(item, depth + 1));
        return out;
    }

    Json object(const ScriptTable* table, size_t depth)
    {
        Json out = Json::object();
        if (!table) return out;
        for (const auto& [key, item] : table->map) {
            charge(key.size());
            if (!isValidUTF8(key)) fail(kInvalidUTF8Message);
            out[key] = convert(item, depth + 1);
        }
        return out;
    }
};

/// Builds script values from parser events. Containers past the nesting limit are still
/// parsed (so a syntax error later in the text is reported as such) but no longer built.
class ResponseBuilder {
public:
    bool null() { return place(Variable()); }
    bool boolean(bool value) { return place(Variable(value)); }
    bool number_integer(Json::number_integer_t value)
    {
        if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max())
            return place(Variable(static_cast<int32_t>(value)));
        return place(Variable(static_cast<float>(value)));
    }
    bool number_unsigned(Json::number_unsigned_t value)
    {
        if (value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            return place(Variable(static_cast<int32_t>(value)));
        return place(Variable(static_cast<float>(value)));
    }
    bool number_float(Json::number_float_t value, const Json::string_t& written)
    {
        return place(Variable(nearestFloat(value, written)));
    }
    bool string(Json::string_t& value) { return place(Variable(std::move(value))); }
    bool binary(Json::binary_t&)
    {
        m_unsupported = true;
        return false;
    }
    bool start_object(std::size_t) { return open(Variable::makeTable()); }
    bool key(Json::string_t& value)
    {
        if (m_skipped == 0) m_frames.back().key = std::move(value);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Variable::makeArray()); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        m_parseError = error.what();
        return false;
    }

    Variable finish(bool parsed)
    {
        if (m_unsupported) fail("Misskey returned an unsupported Foundation value");
        if (!parsed) fail(m_parseError.empty() ? "Misskey response is not valid JSON" : m_parseError);
        if (m_tooDeep) fail("Misskey response exceeds the nesting limit");
        return std::move(m_root);
    }

private:
    struct Frame {
        Variable container;
        std::string key;
    };
    std::vector<Frame> m_frames;
    Variable m_root;
    size_t m_skipped = 0;  // open containers below the limit that are parsed but not built
    bool m_tooDeep = false;
    bool m_unsupported = false;
    std::string m_parseError;

    /// The float nearest to the number as written (one rounding from the decimal text, not
    /// two through double); beyond the float range that is infinity of the same sign.
    static float nearestFloat(double value, const std::string& written)
    {
        float nearest = 0.0f;
        const auto read = std::from_chars(written.data(), written.data() + written.size(), nearest);
        if (read.ec == std::errc() && read.ptr == written.data() + written.size()) return nearest;
        if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
        if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
        if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
        return static_cast<float>(value);
    }

    bool atLimit()
    {
        if (m_skipped > 0 || m_frames.size() >= kNestingLimit) {
            m_tooDeep = true;
            return true;
        }
        return false;
    }

    bool place(Variable value)
    {
        if (atLimit()) return true;
        if (m_frames.empty()) {
            m_root = std::move(value);
            return true;
        }
        Frame& frame = m_frames.back();
        if (frame.container.type == VarType::Array) {
            frame.container.asArray()->items.push_back(std::move(value));
        } else {
            ScriptTable& table = *frame.container.asTable();
            auto [entry, inserted] = table.map.insert_or_assign(std::move(frame.key), std::move(value));
            if (inserted) CobaltScript::bumpTableVersion(table);
            frame.key.clear();
        }
        return true;
    }

    bool open(Variable container)
    {
        if (atLimit()) {
            ++m_skipped;
            return true;
        }
        m_frames.push_back(Frame{std::move(container), {}});
        return true;
    }

    bool close()
    {
        if (m_skipped > 0) {
            --m_skipped;
            return true;
        }
        Variable done = std::move(m_frames.back().container);
        m_frames.pop_back();
        return place(std::move(done));
    }
};

} // namespace

bool isValidUTF8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        unsigned char low = 0x80;  // allowed range of the second byte, narrowed to refuse
        unsigned char high = 0xBF; // overlong forms, surrogates and code points past U+10FFFF
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (size_t k = 2; k < length; ++k)
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
        i += length;
    }
    return true;
}

std::string serialiseJSONTable(const Variable& body)
{
    BodyWriter writer;
    const Json tree = writer.convert(body, 0);
    if (!tree.is_object()) fail("Misskey request parameters must be a table");
    std::string text;
    try {
        text = tree.dump();
    } catch (const Json::exception& error) {
        fail(error.what());
    }
    if (!isValidUTF8(text)) fail("Could not encode Misskey request as UTF-8");
    return text;
}

Variable decodeJSONResponse(std::string_view text)
{
    if (text.empty()) return Variable();
    ResponseBuilder builder;
    const bool parsed = Json::sax_parse(text, &builder);
    return builder.finish(parsed);
}

} // namespace cobalt::bot
