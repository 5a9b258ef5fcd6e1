// The window's models and helpers on their own: log rows, timeline rows, remote images, times.
#include "app/model/misskey_json.h"
#include "tests/app/support/fake_misskey_server.h"
#include "ui/log_list_model.h"
#include "ui/relative_time.h"
#include "ui/remote_image.h"
#include "ui/shown_note.h"
#include "ui/timeline_model.h"

#include <QApplication>
#include <QBuffer>
#include <QSignalSpy>
#include <QtTest/QTest>

using namespace quill;
using namespace quill::test;

namespace {

MisskeyNote note(const QString &id, const QString &text = QStringLiteral("hello"))
{
    MisskeyNote note;
    note.id = id;
    note.createdAt = QStringLiteral("2026-01-02T03:04:05.000Z");
    note.text = text;
    note.user.id = QStringLiteral("u-") + id;
    note.user.username = QStringLiteral("alice");
    return note;
}

QList<MisskeyNote> notes(const QStringList &ids)
{
    QList<MisskeyNote> list;
    for (const QString &id : ids)
        list.append(note(id));
    return list;
}

QStringList ids(const TimelineModel &model)
{
    QStringList list;
    for (const MisskeyNote &each : model.notes())
        list.append(each.id);
    return list;
}

QByteArray pngBytes()
{
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class ViewsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void logModelFollowsTheLogRowByRow()
    {
        AppLog log;
        LogListModel model(&log);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        for (int i = 1; i <= 1001; ++i)
            log.append(LogEntry::Level::script, QString::number(i));
        QCOMPARE(inserted.size(), 1001);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 0);
        QCOMPARE(removed.at(0).at(2).toInt(), 0);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(model.rowCount(), 1000);
        QCOMPARE(model.index(0).data(LogListModel::MessageRole).toString(), QStringLiteral("2"));
        QCOMPARE(model.index(999).data(LogListModel::MessageRole).toString(), QStringLiteral("1001"));
        QCOMPARE(model.index(999).data(LogListModel::LevelLabelRole).toString(), QStringLiteral("BOT"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"))
                    .match(model.index(0).data(LogListModel::TimeTextRole).toString())
                    .hasMatch());
        log.clear();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.rowCount(), 0);
    }

    // Only http(s) images are fetched, and plain http only from this machine.
    void onlyWebImagesAreFetched()
    {
        for (const auto &[address, fetched] : QList<QPair<const char *, bool>>{
                 {"https://media.example/a.png", true}, {"http://127.0.0.1:8080/a.png", true},
                 {"http://localhost/a.png", true}, {"http://[::1]/a.png", true}, {"http://media.example/a.png", false},
                 {"file:///etc/passwd", false}, {"data:image/png;base64,iVBORw0KGgo=", false}, {"/files/a.png", false},
                 {"ftp://media.example/a.png", false}, {"", false}}) {
            const QUrl url(QString::fromLatin1(address));
            QVERIFY2(isFetchableImageURL(url) == fetched, address);
            RemoteImageLoader loader{url};
            QVERIFY(fetched || (!loader.isLoading() && loader.image().isNull()));
        }
    }

    void imagesAreDownloadedOnceAndCancelledWithTheirView()
    {
        FakeMisskeyServer server;
        QVERIFY(server.start());
        server.setResponse(QStringLiteral("/a.png"), FakeResponse::text(pngBytes(), "image/png"));
        server.setResponse(QStringLiteral("/slow.png"), FakeResponse::text(pngBytes(), "image/png").delayedBy(std::chrono::seconds(5)));
        server.setResponse(QStringLiteral("/away.png"), FakeResponse::redirect(QUrl(QStringLiteral("file:///etc/hostname"))));
        const auto at = [&server](const char *path) { return server.url().resolved(QUrl(QString::fromLatin1(path))); };

        RemoteImageLoader loader{at("/a.png")};
        QSignalSpy loaded(&loader, &RemoteImageLoader::loaded);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loader.image().size(), QSize(4, 4));
        QTest::qWait(50);
        QCOMPARE(server.requests().size(), 1);

        auto slow = std::make_unique<RemoteImageLoader>(at("/slow.png"));
        QVERIFY(QTest::qWaitFor([&] { return server.requests().size() == 2; }, 5000));
        QVERIFY(slow->isLoading());
        slow.reset(); // the view went away; nothing may arrive afterwards
        QTest::qWait(50);

        RemoteImageLoader redirected{at("/away.png")};
        QVERIFY(QTest::qWaitFor([&] { return !redirected.isLoading(); }, 5000));
        QVERIFY(redirected.image().isNull());

        // A timeline row's images go with the row; a file: preview is never fetched.
        MisskeyNote withImages = note(QStringLiteral("a"));
        withImages.user.avatarURLString = at("/slow.png").toString();
        MisskeyFile file;
        file.id = QStringLiteral("f");
        file.urlString = QStringLiteral("file:///etc/passwd");
        withImages.files = QList<MisskeyFile>{file};
        TimelineModel model;
        model.setNotes({withImages});
        QVERIFY(model.avatar(0).isNull());
        QVERIFY(model.preview(0, 0).isNull());
        QCOMPARE(model.imageLoaderCount(), 1);
        QVERIFY(QTest::qWaitFor([&] { return server.requests().size() == 4; }, 5000));
        model.setNotes({});
        QCOMPARE(model.imageLoaderCount(), 0);
    }

    void relativeTimes()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto &[age, text] : QList<QPair<qint64, const char *>>{
                 {-30, "now"}, {2, "now"}, {42, "42s"}, {5 * 60 + 10, "5m"}, {3 * 3600, "3h"}, {6 * 86400, "6d"}})
            QCOMPARE(relativeTimeText(now.addSecs(-age), now), QString::fromLatin1(text));
        QVERIFY(!relativeTimeText(now.addDays(-40), now).isEmpty());
        QVERIFY(relativeTimeText(QDateTime(), now).isEmpty());
    }

    void shownNoteFormatsRenotesTextsAndReactions()
    {
        MisskeyNote plain = note(QStringLiteral("a"), QString());
        plain.reactions = ReactionCounts{{QString::fromUtf8("\xF0\x9F\x91\x8D"), 2}, {QString::fromUtf8("\xEF\xBC\xA1"), 1},
                                         {QStringLiteral(":blob:"), 3}};
        const ShownNote shownPlain = shownNote(plain);
        QCOMPARE(shownPlain.text, QStringLiteral("Media note"));
        QVERIFY(!shownPlain.renotedBy);
        // Byte order of the UTF-8 texts: ':' < U+FF21 < U+1F44D.
        QCOMPARE(shownPlain.reactions.at(0).first, QStringLiteral(":blob:"));
        QCOMPARE(shownPlain.reactions.at(2).first, QString::fromUtf8("\xF0\x9F\x91\x8D"));

        QCOMPARE(offeredReactions().size(), 4);

        // A pure renote shows the renoted note, its author and its content warning.
        const auto fixture = [](const char *name) {
            return decodeJSON<MisskeyNote>(readFixture(QStringLiteral("misskey/") + QLatin1String(name))).value();
        };
        MisskeyNote renote = fixture("note-renote-with-files.json");
        renote.renote->cw = QStringLiteral("spoiler");
        const ShownNote shownRenote = shownNote(renote);
        QCOMPARE(shownRenote.text, QStringLiteral("Sunset over the harbour tonight :blobcat:"));
        QCOMPARE(shownRenote.renotedBy.value_or(QString()), QStringLiteral("weatherbot"));
        QCOMPARE(shownRenote.author.username, QStringLiteral("alice"));
        QCOMPARE(shownRenote.contentWarning.value_or(QString()), QStringLiteral("spoiler"));

        // A quote keeps its own words and author.
        const ShownNote shownQuote = shownNote(fixture("note-quote-with-files.json"));
        QCOMPARE(shownQuote.text, QStringLiteral("Look at this, and here is today's tide chart. @alice"));
        QVERIFY(!shownQuote.renotedBy);
        QCOMPARE(shownQuote.author.username, QStringLiteral("bob"));
    }

    void timelineModelInsertsMovesAndRemovesRows()
    {
        TimelineModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setNotes(notes({QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(inserted.size(), 1);

        // A streamed note: one row at the top.
        inserted.clear();
        model.setNotes(notes({QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 0);
        QCOMPARE(inserted.at(0).at(2).toInt(), 0);

        // An existing note moves to the top; another is deleted.
        inserted.clear();
        model.toggleContentWarning(3);
        model.setNotes(notes({QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")}));
        QCOMPARE(ids(model), (QStringList{QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")}));
        QCOMPARE(reset.size(), 0);
        QVERIFY(model.revealsContentWarning(0)); // a moved note keeps its state
        QVERIFY(!model.revealsContentWarning(1));

        // A changed note is updated in place.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<MisskeyNote> edited = model.notes();
        edited[1].text = QStringLiteral("edited");
        model.setNotes(edited);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.index(1).data().toString(), QStringLiteral("edited"));
        model.setNotes({});
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
