// Running bots against the fake server. The script host's three network operations: the request
// each one sends, how failures and limits read, and cancellation of a request in flight; they run
// on the test's thread here, so their slice-wise wait also runs the fake server. Then the
// controller: the life of a run as the log and the state show it, on the real worker thread.
#include "app/script/script_controller.h"
#include "app/script/script_host.h"

#include "tests/app/support/client_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

using namespace quill;
using namespace std::chrono_literals;
using namespace quill::test;
using json = nlohmann::json;

namespace {

QString outcome(const HostResult &result) { return result ? result.value() : QStringLiteral("error: ") + result.error(); }

json answer(const HostResult &result)
{
    return result ? json::parse(result.value().toStdString()) : json("error: " + result.error().toStdString());
}

const QString invalidResponse = QStringLiteral("error: The Misskey server returned an invalid response.");
const QString tooLarge = QStringLiteral("error: The HTTP response exceeds the 10 MiB limit.");
const QString cancelled = QStringLiteral("error: The request was cancelled.");

} // namespace

class ScriptTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ClientFixture> f;
    std::unique_ptr<ScriptHost> m_host;
    std::unique_ptr<AppLog> m_log;
    std::unique_ptr<ScriptController> m_controller;

    QString url(const QString &path) const { return f->server.url().toString() + path; }
    QStringList lines() const { return logLines(*m_log); }
    bool waitIdle() { return QTest::qWaitFor([this] { return m_controller->state() == ScriptExecutionState::idle; }, 10000); }
    bool start(const QString &path) { return m_controller->start(path, f->server.url(), QStringLiteral("tok-1")); }
    bool start(const QString &name, const QByteArray &source) { return start(f->file(name, source)); }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ClientFixture>();
        QVERIFY(f->start());
        m_host = std::make_unique<ScriptHost>(f->server.url(), QStringLiteral("tok-1"), nullptr);
        m_host->setNetwork(f->network.get());
        m_log = std::make_unique<AppLog>();
        m_controller = std::make_unique<ScriptController>(m_log.get());
    }

    void cleanup()
    {
        m_host.reset();
        m_controller.reset();
        m_log.reset();
        f.reset();
    }

    void misskeyRequestSendsTheBodyAsReceived()
    {
        f->server.setEndpointResponse(QStringLiteral("notes/show"), FakeResponse::json(R"({"id":"n1","text":"é"})"));
        const QByteArray body = R"({"noteId":"n1","z":1.50,"a":[]})";
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("notes/show"), body)), QStringLiteral(R"({"id":"n1","text":"é"})"));
        const RecordedRequest request = f->last();
        QCOMPARE(request.method + ' ' + request.path.toUtf8() + ' ' + request.body, "POST /api/notes/show " + body);
        QCOMPARE(request.header("Content-Type") + '|' + request.header("Accept") + '|' + request.header("Authorization"),
                 QByteArrayLiteral("application/json|application/json|Bearer tok-1"));
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("notes/delete"), "{}")), QStringLiteral("null")); // 204
    }

    // Each failure of the three operations, and whether the request was sent at all.
    void failures_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("sent");
        const auto row = [](const char *name, const char *operation, const QString &target, const QByteArray &argument,
                            const QString &expected, bool sent = false) {
            QTest::newRow(name) << QString::fromLatin1(operation) << target << argument << expected << sent;
        };
        const QString i = QStringLiteral("i");
        row("request: array", "request", i, "[1]", invalidResponse);
        row("request: not JSON", "request", i, "{oops", QStringLiteral("error: [json.exception.parse_error.101]…"));
        row("request: bad endpoint", "request", QStringLiteral("../admin"), "{}", QStringLiteral("error: The Misskey API endpoint is invalid."));
        row("request: deep", "request", i, QByteArray(100000, '[') + QByteArray(100000, ']'),
            QStringLiteral("error: The JSON text is nested too deeply."));
        // The same error as the application's own calls; the sandbox suite's bots meet Misskey's error objects.
        row("request: HTTP error", "request", QStringLiteral("broken"), "{}", QStringLiteral("error: Misskey returned HTTP 502: <html>"), true);
        row("upload: folder id", "upload", QStringLiteral("a.txt"), R"({"folderId":5})", invalidResponse);
        row("upload: missing file", "upload", QStringLiteral("gone.png"), "{}", QStringLiteral("error: No such file: %1/gone.png"));
        row("upload: folder", "upload", QString(), "{}", QStringLiteral("error: Not a regular file: %1"));

        const QString address = QStringLiteral("error: HTTP requests require an absolute http:// or https:// URL.");
        const QString method = QStringLiteral("error: The HTTP method is invalid.");
        const QString query = QStringLiteral("error: HTTP query values must be strings, numbers, booleans, or arrays of those values.");
        const QString headers = QStringLiteral("error: HTTP headers must contain valid string names and values.");
        const QString body = QStringLiteral("error: The HTTP body is invalid.");
        const QString feed = QStringLiteral("/feed");
        row("http: ftp", "http", QStringLiteral("ftp://example.com/"), "{}", address);
        row("http: options", "http", feed, "[1]", QStringLiteral("error: HTTP request options must be a table."));
        row("http: method name", "http", feed, R"({"method":"GET-X"})", method);
        row("http: query array", "http", feed, R"({"query":[1]})", query);
        row("http: query nested", "http", feed, R"({"query":{"a":[[1]]}})", query);
        row("http: header number", "http", feed, R"({"headers":{"A":1}})", headers);
        row("http: header value break", "http", feed, R"({"headers":{"A":"x\r\nB: y"}})", headers);
        row("http: json scalar", "http", feed, R"({"json":5})", body);
        row("http: binary answer", "http", QStringLiteral("/binary"), "{}",
            QStringLiteral("error: The HTTP response is neither JSON nor UTF-8 text."), true);
        row("http: over the limit", "http", QStringLiteral("/over"), "{}", tooLarge, true);
        row("http: chunked over the limit", "http", QStringLiteral("/chunked"), "{}", tooLarge, true);
    }

    void failures()
    {
        QFETCH(QString, operation);
        QFETCH(QString, target);
        QFETCH(QByteArray, argument);
        QFETCH(QString, expected);
        QFETCH(bool, sent);
        const QByteArray over(ScriptHost::maxHTTPResponseBytes + 1, 'a');
        f->server.setEndpointResponse(QStringLiteral("broken"), FakeResponse::text("<html>", "text/html", 502));
        f->server.setResponse(QStringLiteral("/binary"), FakeResponse::text("\xff\xfe", "application/octet-stream"));
        f->server.setResponse(QStringLiteral("/over"), FakeResponse::text(over, "text/plain"));
        f->server.setResponse(QStringLiteral("/chunked"), FakeResponse::text(over, "text/plain").withBehaviour(FakeBehaviour::chunked));
        f->file(QStringLiteral("a.txt"), "x");
        const auto call = [&]() -> HostResult {
            if (operation == u"request")
                return m_host->performRequest(target, argument);
            if (operation == u"upload")
                return m_host->performUpload(target.isEmpty() ? f->dir.path() : f->dir.filePath(target), argument);
            return m_host->performHTTP(target.startsWith(u'/') ? url(target) : target, argument);
        };
        // A row ending in "…" names the start of the message.
        const QString actual = outcome(call());
        QCOMPARE(expected.endsWith(u'…') ? actual.left(expected.size() - 1) + u'…' : actual, expected.arg(f->dir.path()));
        QCOMPARE(f->server.requests().size(), sent ? 1 : 0);
    }

    void uploadIsMultipart()
    {
        f->server.setEndpointResponse(QStringLiteral("drive/files/create"), FakeResponse::json(R"({"id":"f1"})"));
        const QByteArray bytes("\x89PNG\0data", 9);
        const HostResult result = m_host->performUpload(
            f->file(QStringLiteral("cat.png"), bytes),
            "{\"force\":false,\"name\":\" say \\\"hi\\\"\\n.png \",\"isSensitive\":true,\"folderId\":\"d1\",\"other\":5}");
        QCOMPARE(outcome(result), QStringLiteral(R"({"id":"f1"})"));

        const RecordedRequest request = f->last(QStringLiteral("drive/files/create"));
        QCOMPARE(request.header("Authorization"), QByteArrayLiteral("Bearer tok-1"));
        const QByteArray contentType = request.header("Content-Type");
        QVERIFY(contentType.startsWith("multipart/form-data; boundary=Quill-"));
        const QByteArray boundary = contentType.mid(contentType.indexOf('=') + 1);
        const QByteArray d = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"";
        QCOMPARE(request.body, d + "folderId\"\r\n\r\nd1\r\n" + d + "name\"\r\n\r\n say \"hi\"\n.png \r\n" + d
                                   + "isSensitive\"\r\n\r\ntrue\r\n" + d + "force\"\r\n\r\nfalse\r\n" + d
                                   + "file\"; filename=\"say 'hi'.png\"\r\nContent-Type: image/png\r\n\r\n" + bytes + "\r\n--"
                                   + boundary + "--\r\n");

        // Without a name the file's own name is used; an unknown extension is plain bytes.
        QVERIFY(m_host->performUpload(f->file(QStringLiteral("notes.qqzz"), "x"), R"({"name":"  "})"));
        QVERIFY(f->last().body.contains("filename=\"notes.qqzz\"\r\nContent-Type: application/octet-stream\r\n"));
    }

    void httpRequestShape()
    {
        f->server.setResponse(QStringLiteral("/feed"), FakeResponse::json(R"({"items":[1,2]})"));
        const json reply = answer(m_host->performHTTP(
            url(QStringLiteral("/feed?x=1")), R"({"method":"post","query":{"b":[1,true,"a b+c"],"a":"%41","skip":null},)"
                                              R"("json":{"k":"v"},"headers":{"X-Test":"yes","accept":"text/csv"}})"));
        QVERIFY(reply["status"] == 200 && reply["body"] == json::parse(R"({"items":[1,2]})")
                && reply["headers"]["content-type"].get<std::string>().starts_with("application/json"));

        const RecordedRequest request = f->last();
        QCOMPARE(request.method + ' ' + request.body, QByteArrayLiteral(R"(POST {"k":"v"})"));
        QCOMPARE(request.query.toString(QUrl::FullyEncoded), QStringLiteral("x=1&a=%2541&b=1&b=true&b=a%20b%2Bc"));
        QCOMPARE(request.header("Content-Type") + '|' + request.header("Accept") + '|' + request.header("User-Agent") + '|'
                     + request.header("X-Test"),
                 QByteArrayLiteral("application/json|text/csv|Quill/1.0|yes"));
        QVERIFY(request.header("Authorization").isNull());

        QVERIFY(m_host->performHTTP(url(QStringLiteral("/feed")), R"({"body":"raw","json":null})"));
        QCOMPARE(f->last().method + ' ' + f->last().body, QByteArrayLiteral("GET raw"));
        QVERIFY(f->last().header("Content-Type").isNull());
        QCOMPARE(f->last().header("Accept"), QByteArrayLiteral("application/json, text/plain;q=0.9, */*;q=0.8"));

        // Answers of other kinds: an error status with text, no body, a redirect, a body of exactly the limit.
        FakeResponse plain = FakeResponse::text("plain words", "text/plain", 404);
        plain.headers.append(qMakePair(QByteArray("X-Custom-Header"), QByteArray("V1")));
        f->server.setResponse(QStringLiteral("/text"), plain);
        f->server.setResponse(QStringLiteral("/none"), FakeResponse::empty(204));
        f->server.setResponse(QStringLiteral("/scalar"), FakeResponse::json("42"));
        f->server.setResponse(QStringLiteral("/old"), FakeResponse::redirect(QUrl(url(QStringLiteral("/scalar")))));
        const QByteArray exact(ScriptHost::maxHTTPResponseBytes, 'a');
        f->server.setResponse(QStringLiteral("/exact"), FakeResponse::text(exact, "text/plain"));
        const json text = answer(m_host->performHTTP(url(QStringLiteral("/text")), "{}"));
        QCOMPARE(text.size(), std::size_t(4));
        QVERIFY(text["status"] == 404 && text["body"] == "plain words" && text["headers"]["x-custom-header"] == "V1");
        QVERIFY(answer(m_host->performHTTP(url(QStringLiteral("/none")), "{}"))["body"] == nullptr);
        const json moved = answer(m_host->performHTTP(url(QStringLiteral("/old")), "{}"));
        QVERIFY(moved["body"] == 42 && moved["url"] == url(QStringLiteral("/scalar")).toStdString());
        QVERIFY(answer(m_host->performHTTP(url(QStringLiteral("/exact")), "{}"))["body"] == exact.toStdString());
    }

    // A time-out below one second waits one second; a cancellation ends the request at once.
    void timeoutIsClampedAndCancelEndsTheRequestInFlight()
    {
        f->server.setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(5s));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(outcome(m_host->performHTTP(url(QStringLiteral("/slow")), R"({"timeout":0})")), QStringLiteral("error: The request timed out."));
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 2500, QByteArray::number(clock.elapsed()).constData());
        QTimer::singleShot(300ms, this, [this, &clock] {
            clock.start();
            m_host->cancel();
        });
        QCOMPARE(outcome(m_host->performHTTP(url(QStringLiteral("/slow")), "{}")), cancelled);
        QVERIFY2(clock.elapsed() < 150, QByteArray::number(clock.elapsed()).constData());
        // Every later request of the run fails at once, without being sent.
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("i"), "{}")), cancelled);
        QCOMPARE(f->server.requests().size(), 2);
    }

    void aRunIsLoggedFromStartToFinishOnce()
    {
        f->server.setEndpointResponse(QStringLiteral("i"), FakeResponse::json(R"({"id":"u1","username":"bot"})"));
        QSignalSpy finished(m_controller.get(), &ScriptController::runFinished);
        QSignalSpy states(m_controller.get(), &ScriptController::stateChanged);
        const QString path = f->file(QStringLiteral("Upper.CBS"), "me = misskeyMe()\nprint(\"I am\", me[\"username\"])\n");
        QVERIFY(start(path));
        QCOMPARE(m_controller->state(), ScriptExecutionState::running);
        QVERIFY(!start(path)); // a second quick start gives no second run
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started Upper.CBS"), QStringLiteral("BOT I am\tbot"),
                                       QStringLiteral("INFO Bot script finished.")}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(states.size(), 2);
        QVERIFY(start(path)); // once idle again, a new run starts
        QVERIFY(waitIdle());
        QCOMPARE(lines().count(QStringLiteral("BOT I am\tbot")), 2);
    }


    void stopsBusyAndWaitingScripts()
    {
        QVERIFY(start(QStringLiteral("busy.cbs"), "t = getTimeMs()\nwhile getTimeMs() - t < 700\n  x = 1\nend\n"));
        m_controller->stop();
        QCOMPARE(m_controller->state(), ScriptExecutionState::stopping);
        m_controller->stop(); // only a running controller stops
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started busy.cbs"), QStringLiteral("INFO Bot stop requested."),
                                       QStringLiteral("INFO Bot script stopped.")}));

        // A stop ends the request in flight at once.
        m_log->clear();
        f->server.setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(8s));
        QVERIFY(start(QStringLiteral("slow.cbs"), "httpGet(\"" + url(QStringLiteral("/slow")).toUtf8() + "\")\nprint(\"not reached\")\n"));
        QVERIFY(f->waitForRequests(1));
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        m_controller->stop();
        QVERIFY(waitIdle());
        QVERIFY2(clock.elapsed() < 600, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(lines().mid(1), (QStringList{QStringLiteral("INFO Bot stop requested."), QStringLiteral("INFO Bot script stopped.")}));
    }

    // A file that is missing does not start; a script error is reported once, as the outcome says.
    void failuresAreReportedOnce()
    {
        const QString missing = f->dir.filePath(QStringLiteral("missing.cbs"));
        QVERIFY(!start(missing));
        QCOMPARE(lines(), QStringList{QStringLiteral("ERROR Bot script not found at ") + missing});
        m_log->clear();
        QSignalSpy finished(m_controller.get(), &ScriptController::runFinished);
        QVERIFY(start(QStringLiteral("fails.cbs"), "error(\"boom\")\n"));
        QVERIFY(waitIdle());
        QCOMPARE(finished.size(), 1);
        const ScriptOutcome outcome = finished.at(0).at(0).value<ScriptOutcome>();
        QCOMPARE(outcome.result, QUILL_SCRIPT_FAILED);
        const QStringList errors = lines().filter(QStringLiteral("ERROR "));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.at(0).startsWith(QStringLiteral("ERROR CobaltScript error: boom")));
        QCOMPARE(QStringLiteral("ERROR ") + outcome.failure.value_or(QString()).trimmed(), errors.at(0));
    }
};

QTEST_GUILESS_MAIN(ScriptTest)
#include "script_test.moc"
