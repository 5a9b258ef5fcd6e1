// Derived values of the Misskey model types and the two choice enumerations.
#include "app/model/internet_date.h"
#include "app/model/misskey_note.h"
#include "app/model/note_visibility.h"
#include "app/model/timeline_kind.h"

#include <QTimeZone>
#include <QtTest/QTest>

using namespace quill;

namespace {

MisskeyUser user(std::optional<QString> name, std::optional<QString> host)
{
    return MisskeyUser{QStringLiteral("u1"), std::move(name), QStringLiteral("alice"), std::move(host), std::nullopt,
                       std::nullopt};
}

MisskeyNote noteCreatedAt(const QString &createdAt)
{
    MisskeyNote note;
    note.id = QStringLiteral("n1");
    note.createdAt = createdAt;
    note.user = user(std::nullopt, std::nullopt);
    return note;
}

std::optional<QDateTime> utc(int day, int hour, int minute, int second, int millisecond = 0)
{
    return QDateTime(QDate(2025, 11, day), QTime(hour, minute, second, millisecond), QTimeZone::utc());
}

} // namespace

class MisskeyValuesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void displayNameAndHandle()
    {
        QCOMPARE(user(QStringLiteral("  Alice 🌸\n"), std::nullopt).displayName(), QStringLiteral("Alice 🌸"));
        // A blank name falls back to the user name.
        for (const std::optional<QString> &name : {std::optional<QString>(), std::optional<QString>(QString()),
                                                   std::optional<QString>(QStringLiteral("   ")),
                                                   std::optional<QString>(QStringLiteral("\n\t\r\n"))})
            QCOMPARE(user(name, std::nullopt).displayName(), QStringLiteral("alice"));
        QCOMPARE(user(std::nullopt, std::nullopt).handle(), QStringLiteral("@alice"));
        QCOMPARE(user(std::nullopt, QString()).handle(), QStringLiteral("@alice"));
        QCOMPARE(user(std::nullopt, QStringLiteral("Remote.Example")).handle(), QStringLiteral("@alice@Remote.Example"));
    }

    void previewAddress()
    {
        const auto preview = [](std::optional<QString> url, std::optional<QString> thumbnail) {
            return MisskeyFile{QStringLiteral("f"), std::nullopt, std::nullopt, std::move(url), std::move(thumbnail)}.previewURL();
        };
        const QString full = QStringLiteral("https://a.example/full.png");
        QCOMPARE(preview(full, QStringLiteral("https://a.example/thumb.webp")),
                 std::optional<QUrl>(QUrl(QStringLiteral("https://a.example/thumb.webp"))));
        QCOMPARE(preview(full, std::nullopt), std::optional<QUrl>(QUrl(full)));
        QVERIFY(!preview(std::nullopt, std::nullopt));
        QVERIFY(!preview(QString(), std::nullopt));
        QVERIFY(!preview(QStringLiteral("http://exa mple.com/a b"), std::nullopt));
    }

    void createdDate()
    {
        QCOMPARE(noteCreatedAt(QStringLiteral("2025-11-20T13:10:42.007Z")).createdDate(), utc(20, 13, 10, 42, 7));
        QCOMPARE(noteCreatedAt(QStringLiteral("2025-11-20T14:00:00Z")).createdDate(), utc(20, 14, 0, 0));
        QVERIFY(!noteCreatedAt(QStringLiteral("yesterday")).createdDate());
        QVERIFY(!noteCreatedAt(QString()).createdDate());
    }

    // A pure renote shows the renoted note and its date; anything of its own makes a note a quote.
    void onlyARenoteWithNothingOfItsOwnIsPure()
    {
        MisskeyNote pure = noteCreatedAt(QStringLiteral("2025-11-20T13:05:11.020Z"));
        pure.renote = MisskeyRenote{};
        pure.renote->createdAt = QStringLiteral("2025-11-20T12:30:05.412Z");
        QVERIFY(pure.isPureRenote());
        QCOMPARE(pure.createdDate(), utc(20, 12, 30, 5, 412));
        QVERIFY(!noteCreatedAt(QString()).isPureRenote());

        MisskeyNote withText = pure, withCW = pure, withReply = pure, withPoll = pure, withFiles = pure;
        withText.text = QStringLiteral("quoted");
        withCW.cw = QStringLiteral("spoiler");
        withReply.replyID = QStringLiteral("r");
        withPoll.hasPoll = true;
        withFiles.files = QList<MisskeyFile>{MisskeyFile{}};
        for (const MisskeyNote &quote : {withText, withCW, withReply, withPoll, withFiles}) {
            QVERIFY(!quote.isPureRenote());
            QCOMPARE(quote.createdDate(), utc(20, 13, 5, 11, 20));
        }
        MisskeyNote emptyFiles = pure;
        emptyFiles.files = QList<MisskeyFile>{};
        QVERIFY(emptyFiles.isPureRenote());
    }

    void internetDates()
    {
        QCOMPARE(parseInternetDate(u"2025-11-20T22:10:42+09:00"), utc(20, 13, 10, 42));
        QCOMPARE(parseInternetDate(u"2025-11-20T08:40:42.5-04:30"), utc(20, 13, 10, 42, 500));
        QCOMPARE(parseInternetDate(u"2025-11-20t13:10:42.123456789z"), utc(20, 13, 10, 42, 123));
        for (const char *text : {"2025-11-20", "2025-11-20T13:10:42", "2025-11-20 13:10:42Z", "2025-11-20T13:10:42.Z",
                                 "2025-13-20T13:10:42Z", "2025-02-30T13:10:42Z", "2025-11-20T24:00:00Z",
                                 "2025-11-20T13:10:42+01:60", "2025-11-20T13:10:42Z and more", "٢٠٢٥-11-20T13:10:42Z"})
            QVERIFY2(!parseInternetDate(QString::fromUtf8(text)), text);
    }

    void visibilityRawValuesInComposerOrder()
    {
        QStringList raw;
        for (NoteVisibility visibility : allNoteVisibilities) {
            raw.append(rawValue(visibility));
            QCOMPARE(noteVisibilityFromRawValue(rawValue(visibility)), std::optional<NoteVisibility>(visibility));
        }
        QCOMPARE(raw, (QStringList{QStringLiteral("public"), QStringLiteral("home"), QStringLiteral("followers")}));
        QVERIFY(!noteVisibilityFromRawValue(u"Public"));
        QVERIFY(!noteVisibilityFromRawValue(u"specified"));
    }

    void timelineKindsInSidebarOrder()
    {
        QStringList rows;
        for (TimelineKind kind : allTimelineKinds)
            rows.append(QStringList{rawValue(kind), title(kind), endpoint(kind), streamChannel(kind)}.join(u'|'));
        QCOMPARE(rows, (QStringList{
                           QStringLiteral("home|Home|notes/timeline|homeTimeline"),
                           QStringLiteral("local|Local|notes/local-timeline|localTimeline"),
                           QStringLiteral("social|Social|notes/hybrid-timeline|hybridTimeline"),
                           QStringLiteral("global|Global|notes/global-timeline|globalTimeline"),
                       }));
        QCOMPARE(timelineKindFromRawValue(u"social"), std::optional<TimelineKind>(TimelineKind::social));
        QVERIFY(!timelineKindFromRawValue(u"Home"));
        QVERIFY(!timelineKindFromRawValue(u"hybrid"));
        QVERIFY(!timelineKindFromRawValue(u" home"));
    }
};

QTEST_GUILESS_MAIN(MisskeyValuesTest)
#include "misskey_values_test.moc"
