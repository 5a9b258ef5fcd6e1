#include "ui/symbols.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include <optional>

// Resources of a static library are registered by hand, once, before the first symbol is drawn.
static void registerSymbolResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    static_cast<void>(registered);
}

namespace quill {

void setUpIconTheme()
{
    registerSymbolResources();
    // Outside a desktop session Qt knows no icon theme; the freedesktop default still has icons.
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QStringLiteral("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

QStringList themeNames(Symbol symbol)
{
    switch (symbol) {
    case Symbol::app: return {QStringLiteral("quill")};
    case Symbol::house: return {QStringLiteral("go-home")};
    case Symbol::building: return {};
    case Symbol::people: return {QStringLiteral("system-users")};
    case Symbol::globe: return {QStringLiteral("applications-internet"), QStringLiteral("emblem-web")};
    case Symbol::keyFilled: return {QStringLiteral("dialog-password")};
    case Symbol::keySlash: return {};
    case Symbol::key: return {QStringLiteral("dialog-password")};
    case Symbol::checkmark: return {QStringLiteral("dialog-ok-apply"), QStringLiteral("dialog-ok")};
    case Symbol::browser: return {QStringLiteral("web-browser")};
    case Symbol::share: return {QStringLiteral("document-send"), QStringLiteral("document-export")};
    case Symbol::signOut: return {QStringLiteral("system-log-out")};
    case Symbol::scroll: return {QStringLiteral("text-x-script")};
    case Symbol::folder: return {QStringLiteral("document-open"), QStringLiteral("folder-open")};
    case Symbol::cross: return {QStringLiteral("edit-clear"), QStringLiteral("window-close")};
    case Symbol::refresh: return {QStringLiteral("view-refresh")};
    case Symbol::play: return {QStringLiteral("media-playback-start")};
    case Symbol::stop: return {QStringLiteral("media-playback-stop")};
    case Symbol::trash: return {QStringLiteral("edit-delete"), QStringLiteral("user-trash")};
    case Symbol::bubble: return {};
    case Symbol::lock: return {QStringLiteral("system-lock-screen"), QStringLiteral("changes-prevent")};
    case Symbol::reply: return {QStringLiteral("mail-reply-sender")};
    case Symbol::renote: return {QStringLiteral("media-playlist-repeat")};
    case Symbol::react: return {QStringLiteral("face-smile")};
    case Symbol::ellipsis: return {};
    case Symbol::eye: return {};
    case Symbol::person: return {QStringLiteral("avatar-default"), QStringLiteral("user-info")};
    case Symbol::photo: return {QStringLiteral("image-x-generic")};
    case Symbol::document: return {QStringLiteral("text-x-generic")};
    }
    return {};
}

QString fallbackResource(Symbol symbol)
{
    const auto path = [](const char *name) { return QStringLiteral(":/quill/symbols/%1.png").arg(QLatin1String(name)); };
    switch (symbol) {
    case Symbol::app: return path("quill");
    case Symbol::building: return path("building");
    case Symbol::globe: return path("globe");
    case Symbol::keySlash: return path("key-slash");
    case Symbol::keyFilled:
    case Symbol::key: return path("key");
    case Symbol::checkmark: return path("checkmark");
    case Symbol::share: return path("share");
    case Symbol::bubble: return path("bubble");
    case Symbol::ellipsis: return path("ellipsis");
    case Symbol::eye: return path("eye");
    case Symbol::person:
    case Symbol::people: return path("person");
    case Symbol::photo: return path("photo");
    case Symbol::document:
    case Symbol::scroll: return path("document");
    default: return path("ellipsis");
    }
}

namespace {

/**
 * Draws a bundled mask in the palette's text colour at the moment it is painted, so the symbol
 * follows a switch between light and dark palettes without being created again.
 */
class TintedMaskEngine final : public QIconEngine {
public:
    TintedMaskEngine(QPixmap mask, std::optional<QColor> fixedColor) : m_mask(std::move(mask)), m_fixedColor(fixedColor) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size() * painter->device()->devicePixelRatio(), mode, state));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QApplication::palette();
        QColor color = m_fixedColor.value_or(palette.color(QPalette::WindowText));
        if (mode == QIcon::Disabled)
            color = palette.color(QPalette::Disabled, QPalette::WindowText);
        QPixmap tinted(size);
        tinted.fill(Qt::transparent);
        QPainter painter(&tinted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(tinted.rect(), m_mask);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), color);
        return tinted;
    }

    QIconEngine *clone() const override { return new TintedMaskEngine(m_mask, m_fixedColor); }

private:
    QPixmap m_mask;
    std::optional<QColor> m_fixedColor;
};

} // namespace

QIcon symbolIcon(Symbol symbol, const QPalette &palette)
{
    registerSymbolResources();
    for (const QString &name : themeNames(symbol)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    QPixmap mask(fallbackResource(symbol));
    if (mask.isNull())
        return {};
    // A palette other than the application's is honoured as given; the application's is followed live.
    std::optional<QColor> fixed;
    if (palette.color(QPalette::WindowText) != QApplication::palette().color(QPalette::WindowText))
        fixed = palette.color(QPalette::WindowText);
    return QIcon(new TintedMaskEngine(std::move(mask), fixed));
}

QIcon symbolIcon(Symbol symbol)
{
    return symbolIcon(symbol, QApplication::palette());
}

} // namespace quill
