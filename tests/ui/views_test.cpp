// The window's models and helpers on their own: timeline rows, remote images, times.
#include "app/model/misskey_json.h"
#include "tests/app/support/fake_misskey_server.h"
#include "ui/relative_time.h"
#include "ui/remote_image.h"
#include "ui/shown_note.h"
#include "ui/timeline_model.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest/QTest>

using namespace quill;
using namespace quill::test;

namespace {

// Notes saying "hello" by alice, with the given ids.
QList<MisskeyNote> notes(const QString &ids)
{
    QList<MisskeyNote> list;
    for (const QString &id : ids.split(u' '))
        list.append(decodeJSON<MisskeyNote>(QStringLiteral(R"({"id":"%1","createdAt":"2026-01-02T03:04:05.000Z","text":"hello",)"
                                                           R"("user":{"id":"u-%1","username":"alice"}})").arg(id).toUtf8()).value());
    return list;
}

} // namespace

class ViewsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Only http(s) images are fetched, and plain http only from this machine.
    void remoteImages()
    {
        for (const auto &[address, fetched] : QList<QPair<const char *, bool>>{
                 {"https://media.example/a.png", true}, {"http://127.0.0.1:8080/a.png", true}, {"http://media.example/a.png", false},
                 {"file:///etc/passwd", false}, {"/files/a.png", false}, {"ftp://media.example/a.png", false}, {"", false}}) {
            const QUrl url(QString::fromLatin1(address));
            QVERIFY2(isFetchableImageURL(url) == fetched, address);
            RemoteImageLoader loader{url};
            QVERIFY2(fetched || (!loader.isLoading() && loader.image().isNull()), address);
        }

        // A fetched image is downloaded once; a redirect away from http(s) is not followed.
        const QByteArray png = readFixture(QStringLiteral("images/red-4x4.png"));
        FakeMisskeyServer server;
        QVERIFY(server.start());
        server.setResponse(QStringLiteral("/a.png"), FakeResponse::text(png, "image/png"));
        server.setResponse(QStringLiteral("/slow.png"), FakeResponse::text(png, "image/png").delayedBy(std::chrono::seconds(5)));
        server.setResponse(QStringLiteral("/away.png"), FakeResponse::redirect(QUrl(QStringLiteral("file:///etc/hostname"))));
        const auto at = [&server](const char *path) { return server.url().resolved(QUrl(QString::fromLatin1(path))); };

        RemoteImageLoader loader{at("/a.png")};
        QVERIFY(QSignalSpy(&loader, &RemoteImageLoader::loaded).wait(5000));
        QCOMPARE(loader.image().size(), QSize(4, 4));
        QTest::qWait(50);
        QCOMPARE(server.requests().size(), 1);
        RemoteImageLoader redirected{at("/away.png")};
        QVERIFY(QTest::qWaitFor([&] { return !redirected.isLoading(); }, 5000));
        QVERIFY(redirected.image().isNull());

        // A timeline row's images go with the row, also while in flight; a file: preview is never fetched.
        QList<MisskeyNote> withImages = notes(QStringLiteral("a"));
        withImages[0].user.avatarURLString = at("/slow.png").toString();
        withImages[0].files = QList<MisskeyFile>{MisskeyFile{QStringLiteral("f"), {}, {}, QStringLiteral("file:///etc/passwd"), {}}};
        TimelineModel model;
        model.setNotes(withImages);
        QVERIFY(model.avatar(0).isNull() && model.preview(0, 0).isNull());
        QCOMPARE(model.imageLoaderCount(), 1);
        QVERIFY(QTest::qWaitFor([&] { return server.requests().size() == 3; }, 5000));
        model.setNotes({}); // the avatar's request is still in flight
        QCOMPARE(model.imageLoaderCount(), 0);
    }

    void relativeTimes()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto &[age, text] : QList<QPair<qint64, const char *>>{
                 {-30, "now"}, {2, "now"}, {42, "42s"}, {5 * 60 + 10, "5m"}, {3 * 3600, "3h"}, {6 * 86400, "6d"}})
            QCOMPARE(relativeTimeText(now.addSecs(-age), now), QString::fromLatin1(text));
        QVERIFY(!relativeTimeText(now.addDays(-40), now).isEmpty() && relativeTimeText(QDateTime(), now).isEmpty());
    }

    void shownNoteFormatsRenotesTextsAndReactions()
    {
        MisskeyNote plain = notes(QStringLiteral("a")).constFirst();
        plain.text.reset();
        plain.reactions = ReactionCounts{{QStringLiteral("👍"), 2}, {QStringLiteral("Ａ"), 1}, {QStringLiteral(":blob:"), 3}};
        const ShownNote shownPlain = shownNote(plain);
        QCOMPARE(shownPlain.text, QStringLiteral("Media note"));
        // Code point order of the reactions: ':' < U+FF21 < U+1F44D, though UTF-16 puts the last two the other way.
        QStringList order;
        for (const auto &[reaction, count] : shownPlain.reactions)
            order.append(reaction);
        QCOMPARE(order.join(u' '), QStringLiteral(":blob: Ａ 👍"));

        // A pure renote shows the renoted note, its author and its content warning.
        MisskeyNote renote = decodeJSON<MisskeyNote>(readFixture(QStringLiteral("misskey/note-renote-with-files.json"))).value();
        renote.renote->cw = QStringLiteral("spoiler");
        const ShownNote shownRenote = shownNote(renote);
        QCOMPARE((QStringList{shownRenote.text, shownRenote.renotedBy.value_or(QString()), shownRenote.author.username,
                              shownRenote.contentWarning.value_or(QString())}),
                 (QStringList{QStringLiteral("Sunset over the harbour tonight :blobcat:"), QStringLiteral("weatherbot"),
                              QStringLiteral("alice"), QStringLiteral("spoiler")}));
        // A quote keeps its own words and author.
        const ShownNote shownQuote = shownNote(decodeJSON<MisskeyNote>(readFixture(QStringLiteral("misskey/note-quote-with-files.json"))).value());
        QCOMPARE(shownQuote.text + u' ' + shownQuote.author.username,
                 QStringLiteral("Look at this, and here is today's tide chart. @alice bob"));
        QVERIFY(!shownQuote.renotedBy);
    }

    void timelineModelInsertsMovesAndRemovesRows()
    {
        TimelineModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setNotes(notes(QStringLiteral("c b a")));
        model.setNotes(notes(QStringLiteral("d c b a"))); // a streamed note: one row at the top
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(inserted.constLast().mid(1), (QList<QVariant>{0, 0}));

        // An existing note moves to the top, keeping its state; another is deleted.
        model.toggleContentWarning(3);
        model.setNotes(notes(QStringLiteral("a d b")));
        QCOMPARE(model.noteAt(0).id + model.noteAt(1).id + model.noteAt(2).id + QString::number(model.rowCount()), QStringLiteral("adb3"));
        QCOMPARE(reset.size(), 0);
        QVERIFY(model.revealsContentWarning(0) && !model.revealsContentWarning(1));

        // A changed note is updated in place.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<MisskeyNote> edited = model.notes();
        edited[1].text = QStringLiteral("edited");
        model.setNotes(edited);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.index(1).data().toString(), QStringLiteral("edited"));
    }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
