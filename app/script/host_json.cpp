#include "app/script/host_json.h"

#include <QStringDecoder>

namespace quill {

namespace {

// Far deeper than any real document; the engine refuses anything past 64 levels anyway.
constexpr int maxNesting = 512;

bool nestingWithinLimit(const QByteArray &text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (character == '\\')
                escaped = true;
            else if (character == '"')
                inString = false;
            continue;
        }
        if (character == '"') {
            inString = true;
        } else if (character == '[' || character == '{') {
            if (++depth > maxNesting)
                return false;
        } else if (character == ']' || character == '}') {
            --depth;
        }
    }
    return true;
}

} // namespace

std::optional<nlohmann::json> parseHostJSON(const QByteArray &text, bool allowScalars, QString *error)
{
    if (!nestingWithinLimit(text)) {
        if (error)
            *error = QStringLiteral("The JSON text is nested too deeply.");
        return std::nullopt;
    }
    try {
        nlohmann::json value = nlohmann::json::parse(text.cbegin(), text.cend());
        if (!allowScalars && !value.is_object() && !value.is_array()) {
            if (error)
                *error = QStringLiteral("The JSON text must be an object or an array.");
            return std::nullopt;
        }
        return value;
    } catch (const nlohmann::json::exception &failure) {
        if (error)
            *error = QString::fromUtf8(failure.what());
        return std::nullopt;
    }
}

std::optional<QByteArray> serialiseHostJSON(const nlohmann::json &value)
{
    try {
        return QByteArray::fromStdString(value.dump());
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

std::optional<QString> strictUTF8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace quill
