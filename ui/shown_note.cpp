#include "ui/shown_note.h"

#include <algorithm>

namespace quill {

ShownNote shownNote(const MisskeyNote &note)
{
    ShownNote shown;
    shown.createdDate = note.createdDate();
    std::optional<ReactionCounts> reactions;
    // A pure renote shows the note it renotes; a quote is a note of its own and shows itself.
    if (note.isPureRenote()) {
        const MisskeyRenote &renote = *note.renote;
        shown.author = renote.user;
        shown.renotedBy = note.user.displayName();
        shown.contentWarning = renote.cw;
        shown.files = renote.files.value_or(QList<MisskeyFile>{});
        reactions = renote.reactions;
        shown.myReaction = renote.myReaction;
    } else {
        shown.author = note.user;
        shown.contentWarning = note.cw;
        shown.files = note.files.value_or(QList<MisskeyFile>{});
        reactions = note.reactions;
        shown.myReaction = note.myReaction;
    }
    if (shown.contentWarning && shown.contentWarning->isEmpty())
        shown.contentWarning.reset();

    // The renote's text when there is one, except that a quote's own words are never replaced
    // by the text it quotes.
    std::optional<QString> text = note.text;
    const bool quoteHasText = !note.isPureRenote() && note.text && !note.text->isEmpty();
    if (note.renote && note.renote->text && !quoteHasText)
        text = note.renote->text;
    shown.text = text && !text->isEmpty() ? *text : QStringLiteral("Media note");

    if (reactions) {
        for (auto it = reactions->cbegin(); it != reactions->cend(); ++it)
            shown.reactions.append({it.key(), it.value()});
        // By code point (UTF-8 byte order): QString's own order puts emoji, which are surrogate
        // pairs, before the characters from U+E000 up.
        std::stable_sort(shown.reactions.begin(), shown.reactions.end(),
                         [](const auto &a, const auto &b) { return a.first.toUtf8() < b.first.toUtf8(); });
    }
    return shown;
}

QStringList offeredReactions()
{
    return {QString::fromUtf8("\xF0\x9F\x91\x8D"), QString::fromUtf8("\xE2\x9D\xA4"),
            QString::fromUtf8("\xF0\x9F\x8E\x89"), QString::fromUtf8("\xF0\x9F\x98\xAE")};
}

} // namespace quill
