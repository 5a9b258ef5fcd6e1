#include "app/script/host_json.h"

#include <QStringDecoder>

#include "app/model/misskey_json.h"

namespace quill {

namespace {

// Far deeper than any real document; the engine refuses anything past 64 levels anyway.
constexpr int maxNesting = 512;

} // namespace

std::optional<nlohmann::json> parseHostJSON(const QByteArray &text, bool allowScalars, QString *error)
{
    if (!isNestingWithin(text, maxNesting)) {
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
