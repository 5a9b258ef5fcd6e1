// The Misskey model: decoding of every fixture, the decoding rules, encoding back to JSON, the
// derived values of the model types and the two choice enumerations.
#include "app/model/internet_date.h"
#include "app/model/misskey_json.h"
#include "app/model/note_visibility.h"
#include "app/model/timeline_kind.h"

#include "tests/app/support/fake_misskey_server.h"

#include <QDir>
#include <QTimeZone>
#include <QtTest/QTest>

using namespace quill;

namespace {

MisskeyUser user(std::optional<QString> name, std::optional<QString> host)
{
    return MisskeyUser{QStringLiteral("u1"), std::move(name), QStringLiteral("alice"), std::move(host), std::nullopt, std::nullopt};
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

template <typename T>
T fixture(const char *name)
{
    return decodeJSON<T>(test::readFixture(QStringLiteral("misskey/") + QLatin1String(name))).value();
}

using Decoder = bool (*)(const QByteArray &);

template <typename T>
bool decodes(const QByteArray &body)
{
    return decodeJSON<T>(body).ok();
}

// A channel frame carries the note two levels down.
bool decodesStreamNote(const QByteArray &body)
{
    const Result<nlohmann::json, DecodeError> frame = parseJSONBody(body);
    return frame && decodeJSONValue<MisskeyNote>(frame.value()["body"]["body"]).ok();
}

bool isJSONObject(const QByteArray &body)
{
    const Result<nlohmann::json, DecodeError> parsed = parseJSONBody(body);
    return parsed && parsed.value().is_object();
}

// The fields of a body that completes a minimal note.
bool decodesNoteWith(const QByteArray &rest)
{
    return decodes<MisskeyNote>(R"({"id":"n","createdAt":"2025-11-20T14:00:00Z","user":{"id":"u","username":"a"})" + rest);
}

struct Expectation {
    const char *body; ///< a JSON text, or a fixture's name prefix
    Decoder decoder;
    bool decodes;
};

// How each fixture is read, by the start of its name; the names listed last do not decode.
constexpr Expectation fixtureRules[] = {
    {"drive-", decodes<MisskeyFile>, true},          {"error-", decodes<MisskeyAPIErrorEnvelope>, true},
    {"i-", decodes<MisskeyUser>, true},              {"user-", decodes<MisskeyUser>, true},
    {"miauth-", decodes<MiAuthCheckResponse>, true}, {"note-", decodes<MisskeyNote>, true},
    {"notes-create-", decodes<CreatedNoteResponse>, true}, {"streaming-channel-", decodesStreamNote, true},
    {"streaming-", isJSONObject, true},              {"timeline-", decodes<QList<MisskeyNote>>, true},
    {"malformed-", isJSONObject, false},             {"error-502-bad-gateway.html", isJSONObject, false},
    {"note-missing-user", nullptr, false},           {"note-reaction-count-text", nullptr, false},
    {"note-renote-missing-user", nullptr, false},
};

// Hand-written bodies at the edges of the decoding rules.
constexpr Expectation bodyTable[] = {
    {R"({"id":1,"username":"a"})", decodes<MisskeyUser>, false},
    {R"({"id":"u","username":null})", decodes<MisskeyUser>, false},
    {R"([{"id":"u","username":"a"}])", decodes<MisskeyUser>, false},
    {R"({"id":"u","username":"a"} x)", decodes<MisskeyUser>, false},
    {"{\"id\":\"u\",\"username\":\"\xff\"}", decodes<MisskeyUser>, false},
    {R"(,"reactions":{"👍":3.0}})", decodesNoteWith, true},
    {R"(,"reactions":{"👍":2.5}})", decodesNoteWith, false},
    {R"(,"reactions":{"👍":18446744073709551615}})", decodesNoteWith, false},
    {R"(,"reactions":{"👍":null}})", decodesNoteWith, false},
    {R"(,"renote":null})", decodesNoteWith, true},
    {R"(,"renote":{"id":"r","createdAt":"x"}})", decodesNoteWith, false},
    {R"(,"files":[{"name":"no id"}]})", decodesNoteWith, false},
    {R"({"token":"t"})", decodes<MiAuthCheckResponse>, false},
    {R"({"error":{}})", decodes<MisskeyAPIErrorEnvelope>, true},
    {R"({"error":"Invalid param."})", decodes<MisskeyAPIErrorEnvelope>, false},
};

} // namespace

Q_DECLARE_METATYPE(Decoder)

class MisskeyModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every fixture file, with the type its name calls for, then hand-written bodies.
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Decoder>("decoder");
        QTest::addColumn<bool>("decodes");
        for (const QString &name : QDir(test::fixturePath(QStringLiteral("misskey"))).entryList(QDir::Files)) {
            // The longest matching prefix decides; a rule without a decoder only says the file must not decode.
            const Expectation *type = nullptr;
            bool decodes = true;
            for (const Expectation &rule : fixtureRules) {
                if (!name.startsWith(QLatin1String(rule.body)))
                    continue;
                decodes = decodes && rule.decodes;
                if (rule.decoder && (!type || qstrlen(rule.body) > qstrlen(type->body)))
                    type = &rule;
            }
            QVERIFY2(type, qPrintable(name + QStringLiteral(" matches no rule")));
            QTest::newRow(qPrintable(name)) << test::readFixture(QStringLiteral("misskey/") + name) << type->decoder << decodes;
        }
        for (const Expectation &row : bodyTable)
            QTest::newRow(row.body) << QByteArray(row.body) << row.decoder << row.decodes;
    }

    void decodes()
    {
        QFETCH(QByteArray, body);
        QFETCH(Decoder, decoder);
        QFETCH(bool, decodes);
        QCOMPARE(decoder(body), decodes);
    }

    void fixturesDecodeInDetail()
    {
        const auto quote = fixture<MisskeyNote>("note-quote-with-files.json");
        QCOMPARE((QStringList{quote.id, quote.createdAt, *quote.text, *quote.cw, quote.user.handle(), *quote.visibility, *quote.renoteID,
                              *quote.myReaction, *quote.files->at(0).name, *quote.files->at(0).type}),
                 (QStringList{QStringLiteral("9wq6b2q3r4"), QStringLiteral("2025-11-20T13:10:42.007Z"),
                              QStringLiteral("Look at this, and here is today's tide chart. @alice"), QStringLiteral("long post about tides"),
                              QStringLiteral("@bob"), QStringLiteral("home"), QStringLiteral("9wq5yd2f3g"), QStringLiteral(":misskey@.:"),
                              QStringLiteral("chart.png"), QStringLiteral("image/png")}));
        QVERIFY(!quote.replyID);
        QCOMPARE(quote.reactions, std::optional<ReactionCounts>(ReactionCounts{
                                      {QStringLiteral("👍"), 1}, {QStringLiteral("🎉"), 2}, {QStringLiteral(":misskey@.:"), 1}}));
        const MisskeyRenote &renote = *quote.renote;
        QCOMPARE(renote.user.displayName() + u' ' + *renote.myReaction, QStringLiteral("Alice 🌸 👍"));
        QVERIFY(!renote.cw);
        // The video has no thumbnail, so its preview is the file itself.
        QCOMPARE(renote.files->at(1).previewURL(), std::optional<QUrl>(QUrl(*renote.files->at(1).urlString)));

        // A pure renote keeps its empty collections present.
        const auto pure = fixture<MisskeyNote>("note-renote-with-files.json");
        QVERIFY(!pure.text && pure.files->isEmpty() && pure.reactions->isEmpty() && *pure.user.isBot);
        QCOMPARE(pure.user.handle(), QStringLiteral("@weatherbot@remote.example"));
        const auto minimal = fixture<MisskeyNote>("note-minimal.json");
        QVERIFY(!minimal.text && !minimal.files && !minimal.reactions && !minimal.renote && minimal.createdDate());

        // A timeline fails as a whole on one bad note (the state suite meets its notes in order).
        QByteArray body = test::readFixture(QStringLiteral("misskey/timeline-notes.json"));
        QVERIFY(!decodeJSON<QList<MisskeyNote>>(body.replace(R"("username": "weatherbot")", R"("username": 7)")));

        const auto error = fixture<MisskeyAPIErrorEnvelope>("error-400-invalid-param.json").error;
        QCOMPARE(*error.id + u' ' + *error.kind, QStringLiteral("3d81ceae-475f-4600-b2a8-2bc116157532 client"));
        // isBot has three states.
        for (const auto &[field, isBot] : QList<QPair<QByteArray, std::optional<bool>>>{
                 {"", std::nullopt}, {R"(,"isBot":null)", std::nullopt}, {R"(,"isBot":true)", true}})
            QCOMPARE(decodeJSON<MisskeyUser>(R"({"id":"u","username":"a")" + field + '}').value().isBot, isBot);
    }

    void nestingLimit()
    {
        const auto nested = [](int depth) { return QByteArray(depth, '[') + QByteArray(depth, ']'); };
        QVERIFY(parseJSONBody(nested(maxJSONNesting)));
        QVERIFY(!parseJSONBody(nested(maxJSONNesting + 1)));
        QVERIFY(!parseJSONBody(QByteArray(maxJSONNesting + 1, '{')));
        // Far deeper bodies are refused without exhausting the stack.
        QVERIFY(!decodeJSON<QList<MisskeyNote>>(nested(200000)));
        // Brackets inside texts, also after escaped quotes, are not nesting.
        QVERIFY(isNestingWithin(QByteArrayLiteral("[\"[[[\", \"\\\"[[[\", {\"{{\": \"]]]\"}]"), 2));
        QVERIFY(!isNestingWithin(QByteArrayLiteral("[{\"a\": [1]}]"), 2));
        QVERIFY(isNestingWithin("]]]][[", 2));
    }

    void encodingRoundTripsAndLeavesOutAbsentOptionals()
    {
        for (const char *file : {"note-quote-with-files.json", "note-renote-with-files.json", "note-minimal.json"}) {
            const auto decoded = fixture<MisskeyNote>(file);
            QCOMPARE(decodeJSON<MisskeyNote>(encodeJSON(decoded)).value(), decoded);
        }
        const nlohmann::json minimal = toJSON(fixture<MisskeyNote>("note-minimal.json"));
        QVERIFY(minimal.size() == 3 && !minimal["user"].contains("host"));
    }

    void displayNameHandleAndPreview()
    {
        QCOMPARE(user(QStringLiteral("  Alice 🌸\n"), std::nullopt).displayName(), QStringLiteral("Alice 🌸"));
        // A blank name falls back to the user name.
        for (const std::optional<QString> &name : {std::optional<QString>(), std::optional<QString>(QStringLiteral("\n\t\r\n"))})
            QCOMPARE(user(name, std::nullopt).displayName(), QStringLiteral("alice"));
        QCOMPARE(user(std::nullopt, QString()).handle(), QStringLiteral("@alice"));
        QCOMPARE(user(std::nullopt, QStringLiteral("Remote.Example")).handle(), QStringLiteral("@alice@Remote.Example"));

        const auto preview = [](std::optional<QString> url, std::optional<QString> thumbnail) {
            return MisskeyFile{QStringLiteral("f"), std::nullopt, std::nullopt, std::move(url), std::move(thumbnail)}.previewURL();
        };
        const QString full = QStringLiteral("https://a.example/full.png");
        const QString thumbnail = QStringLiteral("https://a.example/thumb.webp");
        QCOMPARE(preview(full, thumbnail), std::optional<QUrl>(QUrl(thumbnail)));
        QCOMPARE(preview(full, std::nullopt), std::optional<QUrl>(QUrl(full)));
        QVERIFY(!preview(QString(), std::nullopt));
        QVERIFY(!preview(QStringLiteral("http://exa mple.com/a b"), std::nullopt));
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

        MisskeyNote withText = pure, withCW = pure, withReply = pure, withPoll = pure, withFiles = pure, emptyFiles = pure;
        withText.text = QStringLiteral("quoted");
        withCW.cw = QStringLiteral("spoiler");
        withReply.replyID = QStringLiteral("r");
        withPoll.hasPoll = true;
        withFiles.files = QList<MisskeyFile>{MisskeyFile{}};
        for (const MisskeyNote &quote : {withText, withCW, withReply, withPoll, withFiles}) {
            QVERIFY(!quote.isPureRenote());
            QCOMPARE(quote.createdDate(), utc(20, 13, 5, 11, 20));
        }
        emptyFiles.files = QList<MisskeyFile>{};
        QVERIFY(emptyFiles.isPureRenote());
    }

    void internetDates()
    {
        QCOMPARE(parseInternetDate(u"2025-11-20T22:10:42+09:00"), utc(20, 13, 10, 42));
        QCOMPARE(parseInternetDate(u"2025-11-20T08:40:42.5-04:30"), utc(20, 13, 10, 42, 500));
        QCOMPARE(parseInternetDate(u"2025-11-20t13:10:42.123456789z"), utc(20, 13, 10, 42, 123));
        QVERIFY(!noteCreatedAt(QStringLiteral("yesterday")).createdDate());
        for (const char *text : {"2025-11-20", "2025-11-20T13:10:42", "2025-11-20 13:10:42Z", "2025-11-20T13:10:42.Z",
                                 "2025-02-30T13:10:42Z", "2025-11-20T24:00:00Z", "2025-11-20T13:10:42+01:60",
                                 "2025-11-20T13:10:42Z and more", "٢٠٢٥-11-20T13:10:42Z"})
            QVERIFY2(!parseInternetDate(QString::fromUtf8(text)), text);
    }

    // The raw values are stored in settings and sent to Misskey; the order is the menus' order.
    void choicesInMenuOrder()
    {
        const auto roundTrip = [](bool ok) { return ok ? QString() : QStringLiteral(" (no round trip)"); };
        QStringList rows;
        for (NoteVisibility visibility : allNoteVisibilities)
            rows.append(rawValue(visibility) + roundTrip(noteVisibilityFromRawValue(rawValue(visibility)) == visibility));
        for (TimelineKind kind : allTimelineKinds)
            rows.append(QStringList{rawValue(kind), title(kind), endpoint(kind), streamChannel(kind)}.join(u'|')
                        + roundTrip(timelineKindFromRawValue(rawValue(kind)) == kind));
        QCOMPARE(rows, (QStringList{QStringLiteral("public"), QStringLiteral("home"), QStringLiteral("followers"),
                                    QStringLiteral("home|Home|notes/timeline|homeTimeline"),
                                    QStringLiteral("local|Local|notes/local-timeline|localTimeline"),
                                    QStringLiteral("social|Social|notes/hybrid-timeline|hybridTimeline"),
                                    QStringLiteral("global|Global|notes/global-timeline|globalTimeline")}));
        QVERIFY(!noteVisibilityFromRawValue(u"Public") && !noteVisibilityFromRawValue(u"specified"));
        QVERIFY(!timelineKindFromRawValue(u"Home") && !timelineKindFromRawValue(u"hybrid") && !timelineKindFromRawValue(u" home"));
    }
};

QTEST_GUILESS_MAIN(MisskeyModelTest)
#include "misskey_model_test.moc"
