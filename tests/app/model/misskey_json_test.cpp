// Decoding of Misskey bodies: every fixture, the decoding rules, and encoding back to JSON.
#include "app/model/misskey_json.h"

#include "tests/app/support/fixtures.h"

#include <QtTest/QTest>

using namespace quill;
using quill::test::fixtureNames;
using quill::test::readFixture;

namespace {

QByteArray misskeyFixture(const QString &name)
{
    return readFixture(QStringLiteral("misskey/") + name);
}

// Decodes a fixture as the type its name says; returns whether it decoded.
bool decodesAs(const QString &kind, const QByteArray &body)
{
    if (kind == u"user")
        return decodeJSON<MisskeyUser>(body).ok();
    if (kind == u"file")
        return decodeJSON<MisskeyFile>(body).ok();
    if (kind == u"note")
        return decodeJSON<MisskeyNote>(body).ok();
    if (kind == u"timeline")
        return decodeJSON<QList<MisskeyNote>>(body).ok();
    if (kind == u"created")
        return decodeJSON<CreatedNoteResponse>(body).ok();
    if (kind == u"miauth")
        return decodeJSON<MiAuthCheckResponse>(body).ok();
    if (kind == u"error")
        return decodeJSON<MisskeyAPIErrorEnvelope>(body).ok();
    if (kind == u"stream-note") {
        // A channel frame carries the note two levels down.
        const Result<nlohmann::json, DecodeError> frame = parseJSONBody(body);
        return frame && decodeJSONValue<MisskeyNote>(frame.value()["body"]["body"]).ok();
    }
    if (kind == u"stream-frame")
        return parseJSONBody(body) && parseJSONBody(body).value().is_object();
    if (kind == u"not-json")
        return parseJSONBody(body).ok();
    qFatal("unknown fixture kind");
}

struct FixtureExpectation {
    const char *file;
    const char *kind;
    bool decodes;
};

// Every file in tests/app/fixtures/misskey, with the type it is decoded as.
constexpr FixtureExpectation fixtureTable[] = {
    {"drive-file.json", "file", true},
    {"error-400-invalid-param.json", "error", true},
    {"error-400-reply-to-pure-renote.json", "error", true},
    {"error-401-authentication-failed.json", "error", true},
    {"error-401-credential-required.json", "error", true},
    {"error-404-unknown-endpoint.json", "error", true},
    {"error-429-rate-limit.json", "error", true},
    {"error-500-no-message.json", "error", true},
    {"error-502-bad-gateway.html", "not-json", false},
    {"i-alice.json", "user", true},
    {"malformed-note-truncated.txt", "not-json", false},
    {"miauth-check-ok.json", "miauth", true},
    {"miauth-check-pending.json", "miauth", true},
    {"note-minimal.json", "note", true},
    {"note-missing-user.json", "note", false},
    {"note-quote-with-files.json", "note", true},
    {"note-reaction-count-text.json", "note", false},
    {"note-renote-missing-user.json", "note", false},
    {"note-renote-with-files.json", "note", true},
    {"notes-create-response.json", "created", true},
    {"streaming-channel-note.json", "stream-note", true},
    {"streaming-connect-hometimeline.json", "stream-frame", true},
    {"streaming-main-mention.json", "stream-frame", true},
    {"timeline-notes.json", "timeline", true},
    {"user-blank-name-empty-host.json", "user", true},
    {"user-lite-local.json", "user", true},
    {"user-lite-remote-bot.json", "user", true},
};

} // namespace

class MisskeyJSONTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyFixtureIsListed()
    {
        QStringList listed;
        for (const FixtureExpectation &expectation : fixtureTable)
            listed.append(QLatin1String(expectation.file));
        listed.sort();
        QCOMPARE(fixtureNames(QStringLiteral("misskey")), listed);
    }

    void decodesEveryFixture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("decodes");
        for (const FixtureExpectation &expectation : fixtureTable)
            QTest::newRow(expectation.file) << QString::fromLatin1(expectation.file)
                                            << QString::fromLatin1(expectation.kind) << expectation.decodes;
    }

    void decodesEveryFixture()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(bool, decodes);
        const QByteArray body = misskeyFixture(file);
        QVERIFY(!body.isEmpty());
        QCOMPARE(decodesAs(kind, body), decodes);
    }

    void quoteNoteDecodesEveryField()
    {
        const auto decoded = decodeJSON<MisskeyNote>(misskeyFixture(QStringLiteral("note-quote-with-files.json")));
        QVERIFY(decoded);
        const MisskeyNote &note = decoded.value();
        QCOMPARE(note.id, QStringLiteral("9wq6b2q3r4"));
        QCOMPARE(note.createdAt, QStringLiteral("2025-11-20T13:10:42.007Z"));
        QCOMPARE(note.text, std::optional<QString>(QStringLiteral("Look at this, and here is today's tide chart. @alice")));
        QCOMPARE(note.cw, std::optional<QString>(QStringLiteral("long post about tides")));
        QCOMPARE(note.user.handle(), QStringLiteral("@bob"));
        QCOMPARE(note.visibility, std::optional<QString>(QStringLiteral("home")));
        QVERIFY(!note.replyID);
        QCOMPARE(note.renoteID, std::optional<QString>(QStringLiteral("9wq5yd2f3g")));
        QCOMPARE(note.reactions, std::optional<ReactionCounts>(ReactionCounts{
                                     {QStringLiteral("👍"), 1}, {QStringLiteral("🎉"), 2}, {QStringLiteral(":misskey@.:"), 1}}));
        QCOMPARE(note.myReaction, std::optional<QString>(QStringLiteral(":misskey@.:")));
        QVERIFY(note.files);
        QCOMPARE(note.files->size(), 1);
        QCOMPARE(note.files->at(0).name, std::optional<QString>(QStringLiteral("chart.png")));
        QCOMPARE(note.files->at(0).type, std::optional<QString>(QStringLiteral("image/png")));

        QVERIFY(note.renote);
        const MisskeyRenote &renote = *note.renote;
        QCOMPARE(renote.user.displayName(), QStringLiteral("Alice 🌸"));
        QCOMPARE(renote.myReaction, std::optional<QString>(QStringLiteral("👍")));
        QVERIFY(!renote.cw);
        QCOMPARE(renote.files->size(), 2);
        // The video has no thumbnail, so its preview is the file itself.
        QCOMPARE(renote.files->at(1).previewURL(), std::optional<QUrl>(QUrl(*renote.files->at(1).urlString)));
    }

    void pureRenoteKeepsEmptyCollectionsPresent()
    {
        const auto decoded = decodeJSON<MisskeyNote>(misskeyFixture(QStringLiteral("note-renote-with-files.json")));
        QVERIFY(decoded);
        const MisskeyNote &note = decoded.value();
        QVERIFY(!note.text);
        QCOMPARE(note.files, std::optional<QList<MisskeyFile>>(QList<MisskeyFile>()));
        QCOMPARE(note.reactions, std::optional<ReactionCounts>(ReactionCounts()));
        QCOMPARE(note.user.handle(), QStringLiteral("@weatherbot@remote.example"));
        QCOMPARE(note.user.displayName(), QStringLiteral("weatherbot"));
        QCOMPARE(note.user.isBot, std::optional<bool>(true));
    }

    void minimalNoteHasAbsentFields()
    {
        const auto decoded = decodeJSON<MisskeyNote>(misskeyFixture(QStringLiteral("note-minimal.json")));
        QVERIFY(decoded);
        QVERIFY(!decoded.value().text);
        QVERIFY(!decoded.value().files);
        QVERIFY(!decoded.value().reactions);
        QVERIFY(!decoded.value().renote);
        QVERIFY(decoded.value().createdDate());
    }

    void timelineKeepsServerOrder()
    {
        const auto decoded = decodeJSON<QList<MisskeyNote>>(misskeyFixture(QStringLiteral("timeline-notes.json")));
        QVERIFY(decoded);
        QStringList ids;
        for (const MisskeyNote &note : decoded.value())
            ids.append(note.id);
        QCOMPARE(ids, (QStringList{QStringLiteral("9wq6e5w6x7"), QStringLiteral("9wq6c3s4t5"), QStringLiteral("9wq6b2q3r4"),
                                   QStringLiteral("9wq6a0r1n2")}));
        QCOMPARE(decoded.value().first().replyID, std::optional<QString>(QStringLiteral("9wq6d4u5v6")));
    }

    void timelineFailsAsAWholeOnOneBadNote()
    {
        QByteArray body = misskeyFixture(QStringLiteral("timeline-notes.json"));
        body.replace("\"username\": \"weatherbot\"", "\"username\": 7");
        QVERIFY(!decodeJSON<QList<MisskeyNote>>(body));
    }

    void blankUserFixture()
    {
        const auto decoded = decodeJSON<MisskeyUser>(misskeyFixture(QStringLiteral("user-blank-name-empty-host.json")));
        QVERIFY(decoded);
        QCOMPARE(decoded.value().displayName(), QStringLiteral("blank"));
        QCOMPARE(decoded.value().handle(), QStringLiteral("@blank"));
        QVERIFY(!decoded.value().isBot);
    }

    void isBotThreeStates_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<bool>>("isBot");
        QTest::newRow("missing") << QByteArray(R"({"id":"u","username":"a"})") << std::optional<bool>();
        QTest::newRow("null") << QByteArray(R"({"id":"u","username":"a","isBot":null})") << std::optional<bool>();
        QTest::newRow("false") << QByteArray(R"({"id":"u","username":"a","isBot":false})") << std::optional<bool>(false);
        QTest::newRow("true") << QByteArray(R"({"id":"u","username":"a","isBot":true})") << std::optional<bool>(true);
    }

    void isBotThreeStates()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<bool>, isBot);
        const auto decoded = decodeJSON<MisskeyUser>(body);
        QVERIFY(decoded);
        QCOMPARE(decoded.value().isBot, isBot);
    }

    void wrongTypesFailTheDecode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("id is a number") << QByteArray(R"({"id":1,"username":"a"})");
        QTest::newRow("username null") << QByteArray(R"({"id":"u","username":null})");
        QTest::newRow("username missing") << QByteArray(R"({"id":"u"})");
        QTest::newRow("optional name is a number") << QByteArray(R"({"id":"u","username":"a","name":5})");
        QTest::newRow("isBot is a text") << QByteArray(R"({"id":"u","username":"a","isBot":"yes"})");
        QTest::newRow("isBot is 0") << QByteArray(R"({"id":"u","username":"a","isBot":0})");
        QTest::newRow("array instead of object") << QByteArray(R"([{"id":"u","username":"a"}])");
        QTest::newRow("scalar") << QByteArray(R"("alice")");
        QTest::newRow("empty body") << QByteArray();
        QTest::newRow("trailing garbage") << QByteArray(R"({"id":"u","username":"a"} x)");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"id\":\"u\",\"username\":\"\xff\"}");
    }

    void wrongTypesFailTheDecode()
    {
        QFETCH(QByteArray, body);
        QVERIFY(!decodeJSON<MisskeyUser>(body));
    }

    void reactionCounts_data()
    {
        QTest::addColumn<QByteArray>("reactions");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("integer") << QByteArray("3") << true;
        QTest::newRow("whole float") << QByteArray("3.0") << true;
        QTest::newRow("fraction") << QByteArray("2.5") << false;
        QTest::newRow("beyond 64 bits") << QByteArray("18446744073709551615") << false;
        QTest::newRow("huge float") << QByteArray("1e300") << false;
        QTest::newRow("text") << QByteArray("\"3\"") << false;
        QTest::newRow("null") << QByteArray("null") << false;
    }

    void reactionCounts()
    {
        QFETCH(QByteArray, reactions);
        QFETCH(bool, decodes);
        const QByteArray body = R"({"id":"n","createdAt":"x","user":{"id":"u","username":"a"},"reactions":{"👍":)" +
                                reactions + "}}";
        QCOMPARE(decodeJSON<MisskeyNote>(body).ok(), decodes);
    }

    void renoteMustBeCompleteWhenPresent()
    {
        const QByteArray base = R"({"id":"n","createdAt":"2025-11-20T14:00:00Z","user":{"id":"u","username":"a"})";
        QVERIFY(decodeJSON<MisskeyNote>(base + R"(,"renote":null})").ok());
        QVERIFY(!decodeJSON<MisskeyNote>(base + R"(,"renote":{"id":"r","createdAt":"x"}})"));
        QVERIFY(!decodeJSON<MisskeyNote>(base + R"(,"renote":"r"})"));
        QVERIFY(!decodeJSON<MisskeyNote>(base + R"(,"files":[{"name":"no id"}]})"));
        QVERIFY(!decodeJSON<MisskeyNote>(base + R"(,"files":{}})"));
    }

    void miAuthAnswers()
    {
        const auto ok = decodeJSON<MiAuthCheckResponse>(misskeyFixture(QStringLiteral("miauth-check-ok.json")));
        QVERIFY(ok);
        QVERIFY(ok.value().ok);
        QCOMPARE(ok.value().token, std::optional<QString>(QStringLiteral("Yx3kP9vQ2mT7wB1nR5sJ8cL4hD6fG0aZ")));
        QCOMPARE(ok.value().user->username, QStringLiteral("alice"));

        const auto pending = decodeJSON<MiAuthCheckResponse>(misskeyFixture(QStringLiteral("miauth-check-pending.json")));
        QVERIFY(pending);
        QCOMPARE(pending.value(), MiAuthCheckResponse{});
        QVERIFY(!decodeJSON<MiAuthCheckResponse>(R"({"token":"t"})"));
    }

    void errorEnvelopePayload()
    {
        const auto decoded = decodeJSON<MisskeyAPIErrorEnvelope>(misskeyFixture(QStringLiteral("error-400-invalid-param.json")));
        QVERIFY(decoded);
        const MisskeyAPIErrorEnvelope::Payload &payload = decoded.value().error;
        QCOMPARE(payload.message, std::optional<QString>(QStringLiteral("Invalid param.")));
        QCOMPARE(payload.code, std::optional<QString>(QStringLiteral("INVALID_PARAM")));
        QCOMPARE(payload.id, std::optional<QString>(QStringLiteral("3d81ceae-475f-4600-b2a8-2bc116157532")));
        QCOMPARE(payload.kind, std::optional<QString>(QStringLiteral("client")));

        QVERIFY(decodeJSON<MisskeyAPIErrorEnvelope>(R"({"error":{}})"));
        QVERIFY(!decodeJSON<MisskeyAPIErrorEnvelope>(R"({"error":"Invalid param."})"));
        QVERIFY(!decodeJSON<MisskeyAPIErrorEnvelope>(R"({"message":"Invalid param."})"));
        QVERIFY(!decodeJSON<MisskeyAPIErrorEnvelope>(R"({"error":{"message":404}})"));
    }

    void nestingLimit()
    {
        const auto nested = [](int depth) { return QByteArray(depth, '[') + QByteArray(depth, ']'); };
        QVERIFY(parseJSONBody(nested(maxJSONNesting)));
        QVERIFY(!parseJSONBody(nested(maxJSONNesting + 1)));
        QVERIFY(!parseJSONBody(QByteArray(maxJSONNesting + 1, '{')));
        // Far deeper bodies are refused without exhausting the stack.
        QVERIFY(!decodeJSON<MisskeyNote>(nested(200000)));
        QVERIFY(!decodeJSON<QList<MisskeyNote>>(nested(200000)));
        // Brackets inside texts, also after escaped quotes, are not nesting.
        QVERIFY(isNestingWithin(QByteArrayLiteral("[\"[[[\", \"\\\"[[[\", {\"{{\": \"]]]\"}]"), 2));
        QVERIFY(!isNestingWithin(QByteArrayLiteral("[{\"a\": [1]}]"), 2));
        QVERIFY(isNestingWithin("]]]][[", 2));
    }

    void encodingLeavesOutAbsentOptionals()
    {
        const auto decoded = decodeJSON<MisskeyNote>(misskeyFixture(QStringLiteral("note-minimal.json")));
        QVERIFY(decoded);
        const nlohmann::json encoded = toJSON(decoded.value());
        QCOMPARE(encoded.size(), std::size_t(3));
        QVERIFY(encoded.contains("id") && encoded.contains("createdAt") && encoded.contains("user"));
        QVERIFY(!encoded["user"].contains("host"));
        QCOMPARE(encoded["user"]["isBot"].get<bool>(), false);
        QCOMPARE(QString::fromStdString(encoded["user"]["avatarUrl"].get<std::string>()),
                 QStringLiteral("https://misskey.example/identicon/alice@misskey.example"));
    }

    void encodingRoundTripsEveryNote_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : {"note-quote-with-files.json", "note-renote-with-files.json", "note-minimal.json"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }

    void encodingRoundTripsEveryNote()
    {
        QFETCH(QString, file);
        const auto decoded = decodeJSON<MisskeyNote>(misskeyFixture(file));
        QVERIFY(decoded);
        const auto again = decodeJSON<MisskeyNote>(encodeJSON(decoded.value()));
        QVERIFY(again);
        QCOMPARE(again.value(), decoded.value());
    }

    void encodingUsesDecodingKeys()
    {
        MisskeyNote note;
        note.id = QStringLiteral("n");
        note.createdAt = QStringLiteral("2025-11-20T14:00:00Z");
        note.user = MisskeyUser{QStringLiteral("u"), std::nullopt, QStringLiteral("a"), std::nullopt,
                                QStringLiteral("https://a.example/a.png"), false};
        note.replyID = QStringLiteral("r");
        note.renoteID = QStringLiteral("q");
        note.files = QList<MisskeyFile>{MisskeyFile{QStringLiteral("f"), std::nullopt, std::nullopt, std::nullopt,
                                                    QStringLiteral("https://a.example/t.png")}};
        const nlohmann::json encoded = toJSON(note);
        QVERIFY(encoded.contains("replyId"));
        QVERIFY(encoded.contains("renoteId"));
        QVERIFY(encoded["user"].contains("avatarUrl"));
        QCOMPARE(encoded["user"]["isBot"].get<bool>(), false);
        QVERIFY(encoded["files"][0].contains("thumbnailUrl"));
    }
};

QTEST_GUILESS_MAIN(MisskeyJSONTest)
#include "misskey_json_test.moc"
