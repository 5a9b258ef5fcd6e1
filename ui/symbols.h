#pragma once

#include <QIcon>
#include <QStringList>

class QPalette;

namespace quill {

/// Every symbol the window shows, named after what it depicts.
enum class Symbol {
    app,
    house,
    building,
    people,
    globe,
    keyFilled,
    keySlash,
    key,
    checkmark,
    browser,
    share,
    signOut,
    scroll,
    folder,
    cross,
    refresh,
    play,
    stop,
    trash,
    bubble,
    lock,
    reply,
    renote,
    react,
    ellipsis,
    eye,
    person,
    photo,
    document,
};

/// Registers the bundled symbols and picks a freedesktop icon theme when the session names none.
void setUpIconTheme();

/// Freedesktop icon-theme names tried in order for a symbol.
QStringList themeNames(Symbol symbol);

/// The bundled mask (a Qt resource path) used when the theme has none of the names.
QString fallbackResource(Symbol symbol);

/**
 * @brief The symbol as an icon: the icon theme's when it has one, else the bundled mask tinted
 * with the palette's text colour so it reads on light and dark windows alike.
 */
QIcon symbolIcon(Symbol symbol);
QIcon symbolIcon(Symbol symbol, const QPalette &palette);

} // namespace quill
