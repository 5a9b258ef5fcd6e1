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
    return MisskeyUser{QStringLiteral("u1"), std::move(name), QStringLiteral("alice"), std::move(host),
                       std::nullopt, std::nullopt};
}

MisskeyNote noteCreatedAt(const QString &createdAt)
{
    MisskeyNote note;
    note.id = QStringLiteral("n1");
    note.createdAt = createdAt;
    note.user = user(std::nullopt, std::nullopt);
    return note;
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond), QTimeZone::utc());
}

} // namespace

class MisskeyValuesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void displayNameIsTrimmedName()
    {
        QCOMPARE(user(QStringLiteral("  Alice 🌸\n"), std::nullopt).displayName(), QStringLiteral("Alice 🌸"));
    }

    void displayNameFallsBackToUsername_data()
    {
        QTest::addColumn<std::optional<QString>>("name");
        QTest::newRow("absent") << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString());
        QTest::newRow("blanks") << std::optional<QString>(QStringLiteral("   "));
        QTest::newRow("newlines and tabs") << std::optional<QString>(QStringLiteral("\n\t\r\n"));
    }

    void displayNameFallsBackToUsername()
    {
        QFETCH(std::optional<QString>, name);
        QCOMPARE(user(name, std::nullopt).displayName(), QStringLiteral("alice"));
    }

    void handleOfLocalAccountHasOneAt()
    {
        QCOMPARE(user(std::nullopt, std::nullopt).handle(), QStringLiteral("@alice"));
        QCOMPARE(user(std::nullopt, QString()).handle(), QStringLiteral("@alice"));
    }

    void handleOfRemoteAccountKeepsHostCase()
    {
        QCOMPARE(user(std::nullopt, QStringLiteral("Remote.Example")).handle(), QStringLiteral("@alice@Remote.Example"));
    }

    void previewPrefersThumbnail()
    {
        MisskeyFile file{QStringLiteral("f1"), std::nullopt, std::nullopt, QStringLiteral("https://a.example/full.png"),
                         QStringLiteral("https://a.example/thumb.webp")};
        QCOMPARE(file.previewURL(), std::optional<QUrl>(QUrl(QStringLiteral("https://a.example/thumb.webp"))));
    }

    void previewFallsBackToFileURL()
    {
        MisskeyFile file{QStringLiteral("f1"), std::nullopt, std::nullopt, QStringLiteral("https://a.example/full.png"),
                         std::nullopt};
        QCOMPARE(file.previewURL(), std::optional<QUrl>(QUrl(QStringLiteral("https://a.example/full.png"))));
    }

    void previewAbsentWithoutUsableAddress()
    {
        MisskeyFile bare;
        bare.id = QStringLiteral("f1");
        QVERIFY(!bare.previewURL());
        MisskeyFile empty{QStringLiteral("f2"), std::nullopt, std::nullopt, QString(), std::nullopt};
        QVERIFY(!empty.previewURL());
        MisskeyFile broken{QStringLiteral("f3"), std::nullopt, std::nullopt, QStringLiteral("http://exa mple.com/a b"),
                           std::nullopt};
        QVERIFY(!broken.previewURL());
    }

    void createdDateWithFraction()
    {
        QCOMPARE(noteCreatedAt(QStringLiteral("2025-11-20T13:10:42.007Z")).createdDate(),
                 std::optional<QDateTime>(utc(2025, 11, 20, 13, 10, 42, 7)));
    }

    void createdDateWithoutFraction()
    {
        QCOMPARE(noteCreatedAt(QStringLiteral("2025-11-20T14:00:00Z")).createdDate(),
                 std::optional<QDateTime>(utc(2025, 11, 20, 14, 0, 0)));
    }

    void createdDateOfPureRenoteIsTheRenotedNotes()
    {
        MisskeyNote note = noteCreatedAt(QStringLiteral("2025-11-20T13:05:11.020Z"));
        MisskeyRenote renote;
        renote.id = QStringLiteral("r1");
        renote.createdAt = QStringLiteral("2025-11-20T12:30:05.412Z");
        note.renote = renote;
        QCOMPARE(note.createdDate(), std::optional<QDateTime>(utc(2025, 11, 20, 12, 30, 5, 412)));
    }

    void onlyARenoteWithNothingOfItsOwnIsPure()
    {
        MisskeyNote pure = noteCreatedAt(QStringLiteral("2025-11-20T13:05:11.020Z"));
        pure.renote = MisskeyRenote{};
        pure.renote->createdAt = QStringLiteral("2025-11-20T12:30:05.412Z");
        QVERIFY(pure.isPureRenote());
        QVERIFY(!noteCreatedAt(QString()).isPureRenote());

        MisskeyNote withText = pure, withCW = pure, withReply = pure, withPoll = pure, withFiles = pure;
        withText.text = QStringLiteral("quoted");
        withCW.cw = QStringLiteral("spoiler");
        withReply.replyID = QStringLiteral("r");
        withPoll.hasPoll = true;
        withFiles.files = QList<MisskeyFile>{MisskeyFile{}};
        for (const MisskeyNote &quote : {withText, withCW, withReply, withPoll, withFiles}) {
            QVERIFY(!quote.isPureRenote());
            // A quote was written when it was posted.
            QCOMPARE(quote.createdDate(), std::optional<QDateTime>(utc(2025, 11, 20, 13, 5, 11, 20)));
        }
        MisskeyNote emptyFiles = pure;
        emptyFiles.files = QList<MisskeyFile>{};
        QVERIFY(emptyFiles.isPureRenote());
    }

    void createdDateAbsentForNonDate()
    {
        QVERIFY(!noteCreatedAt(QStringLiteral("yesterday")).createdDate());
        QVERIFY(!noteCreatedAt(QString()).createdDate());
    }

    void internetDateOffsets()
    {
        QCOMPARE(parseInternetDate(u"2025-11-20T22:10:42+09:00"), std::optional<QDateTime>(utc(2025, 11, 20, 13, 10, 42)));
        QCOMPARE(parseInternetDate(u"2025-11-20T08:40:42.5-04:30"),
                 std::optional<QDateTime>(utc(2025, 11, 20, 13, 10, 42, 500)));
        QCOMPARE(parseInternetDate(u"2025-11-20t13:10:42.123456789z"),
                 std::optional<QDateTime>(utc(2025, 11, 20, 13, 10, 42, 123)));
    }

    void internetDateRejectsOtherForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("date only") << QStringLiteral("2025-11-20");
        QTest::newRow("no offset") << QStringLiteral("2025-11-20T13:10:42");
        QTest::newRow("space separator") << QStringLiteral("2025-11-20 13:10:42Z");
        QTest::newRow("empty fraction") << QStringLiteral("2025-11-20T13:10:42.Z");
        QTest::newRow("month 13") << QStringLiteral("2025-13-20T13:10:42Z");
        QTest::newRow("February 30") << QStringLiteral("2025-02-30T13:10:42Z");
        QTest::newRow("hour 24") << QStringLiteral("2025-11-20T24:00:00Z");
        QTest::newRow("offset minutes 60") << QStringLiteral("2025-11-20T13:10:42+01:60");
        QTest::newRow("trailing text") << QStringLiteral("2025-11-20T13:10:42Z and more");
        QTest::newRow("non-ASCII digits") << QStringLiteral("٢٠٢٥-11-20T13:10:42Z");
    }

    void internetDateRejectsOtherForms()
    {
        QFETCH(QString, text);
        QVERIFY(!parseInternetDate(text));
    }

    void visibilityRawValuesInComposerOrder()
    {
        QStringList raw;
        for (NoteVisibility visibility : allNoteVisibilities)
            raw.append(rawValue(visibility));
        QCOMPARE(raw, (QStringList{QStringLiteral("public"), QStringLiteral("home"), QStringLiteral("followers")}));
        for (NoteVisibility visibility : allNoteVisibilities)
            QCOMPARE(noteVisibilityFromRawValue(rawValue(visibility)), std::optional<NoteVisibility>(visibility));
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
    }

    void timelineKindFromRawValueIsExact()
    {
        QCOMPARE(timelineKindFromRawValue(u"social"), std::optional<TimelineKind>(TimelineKind::social));
        QVERIFY(!timelineKindFromRawValue(u"Home"));
        QVERIFY(!timelineKindFromRawValue(u"hybrid"));
        QVERIFY(!timelineKindFromRawValue(u" home"));
    }

    void notesCompareEveryField()
    {
        MisskeyNote first = noteCreatedAt(QStringLiteral("2025-11-20T14:00:00Z"));
        MisskeyNote second = first;
        QVERIFY(first == second);
        second.reactions = ReactionCounts{{QStringLiteral("👍"), 1}};
        QVERIFY(first != second);
        second = first;
        second.user.isBot = false;
        QVERIFY(first != second);
    }
};

QTEST_GUILESS_MAIN(MisskeyValuesTest)
#include "misskey_values_test.moc"
