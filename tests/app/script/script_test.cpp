// Running bots against the fake server. The script host's three network operations: the request
// each one sends, how failures and limits read, and cancellation of a request in flight; they run
// on the test's thread here, so their slice-wise wait also runs the fake server. Then the
// controller: the life of a run as the log and the state show it, on the real worker thread.
#include "app/script/script_controller.h"
#include "app/script/script_host.h"

#include "tests/app/support/fake_misskey_server.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

using namespace quill;
using namespace std::chrono_literals;
using namespace quill::test;
using json = nlohmann::json;

namespace {

QString outcome(const HostResult &result)
{
    return result ? result.value() : QStringLiteral("error: ") + result.error();
}

json answer(const HostResult &result)
{
    return result ? json::parse(result.value().toStdString()) : json("error: " + result.error().toStdString());
}

} // namespace

class ScriptTest : public QObject {
    Q_OBJECT

private:
    FakeMisskeyServer *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    std::unique_ptr<ScriptHost> m_host;
    AppLog *m_log = nullptr;
    ScriptController *m_controller = nullptr;
    QTemporaryDir m_files;

    RecordedRequest lastRequest() const { return m_server->requests().value(m_server->requests().size() - 1); }

    QString file(const QString &name, const QByteArray &bytes) { return test::writeFile(m_files.filePath(name), bytes); }

    QString url(const char *path) const { return m_server->url().toString() + QString::fromUtf8(path); }

    QStringList lines() const
    {
        QStringList result;
        for (const LogEntry &entry : m_log->entries())
            result.append(label(entry.level) + QLatin1Char(' ') + entry.message);
        return result;
    }

    bool waitIdle(int milliseconds = 10000)
    {
        return QTest::qWaitFor([this] { return m_controller->state() == ScriptExecutionState::idle; }, milliseconds);
    }

    bool start(const QString &path)
    {
        return m_controller->start(path, m_server->url(), QStringLiteral("tok-1"));
    }

private Q_SLOTS:
    void init()
    {
        m_server = new FakeMisskeyServer(this);
        QVERIFY(m_server->start());
        m_server->serveDefaultFixtures();
        m_network = new QNetworkAccessManager(this);
        m_host = std::make_unique<ScriptHost>(m_server->url(), QStringLiteral("tok-1"), nullptr);
        m_host->setNetwork(m_network);
        m_log = new AppLog(this);
        m_controller = new ScriptController(m_log, this);
    }

    void cleanup()
    {
        m_host.reset();
        delete m_controller;
        delete m_log;
        delete m_network;
        delete m_server;
        m_server = nullptr;
    }

    void misskeyRequestSendsTheBodyAsReceived()
    {
        m_server->setEndpointResponse(QStringLiteral("notes/show"), FakeResponse::json(R"({"id":"n1","text":"é"})"));
        const QByteArray body = R"({"noteId":"n1","z":1.50,"a":[]})";
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("notes/show"), body)),
                 QStringLiteral(R"({"id":"n1","text":"é"})"));
        const RecordedRequest request = lastRequest();
        QCOMPARE(request.method, QByteArrayLiteral("POST"));
        QCOMPARE(request.path, QStringLiteral("/api/notes/show"));
        QCOMPARE(request.body, body);
        QCOMPARE(request.header("Content-Type"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Accept"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArrayLiteral("Bearer tok-1"));

        m_server->setEndpointResponse(QStringLiteral("notes/delete"), FakeResponse::empty());
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("notes/delete"), "{}")), QStringLiteral("null"));
    }

    void misskeyRequestFailures()
    {
        const int sent = int(m_server->requests().size());
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("i"), "[1]")),
                 QStringLiteral("error: The Misskey server returned an invalid response."));
        QVERIFY(outcome(m_host->performRequest(QStringLiteral("i"), "{oops")).startsWith(QStringLiteral("error: ")));
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("../admin"), "{}")),
                 QStringLiteral("error: The Misskey API endpoint is invalid."));
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("i"), QByteArray(100000, '[') + QByteArray(100000, ']'))),
                 QStringLiteral("error: The JSON text is nested too deeply."));
        QCOMPARE(int(m_server->requests().size()), sent);

        // The same error as the application's own calls: Misskey's error object, or the status.
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("no/such"), "{}")),
                 QStringLiteral("error: Unknown API endpoint. (UNKNOWN_API_ENDPOINT)"));
        m_server->setEndpointResponse(QStringLiteral("broken"), FakeResponse::text("<html>", "text/html", 502));
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("broken"), "{}")),
                 QStringLiteral("error: Misskey returned HTTP 502: <html>"));
    }

    void uploadIsMultipart()
    {
        m_server->setEndpointResponse(QStringLiteral("drive/files/create"), FakeResponse::json(R"({"id":"f1"})"));
        const QString path = file(QStringLiteral("cat.png"), QByteArray("\x89PNG\0data", 9));
        const HostResult result = m_host->performUpload(
            path, "{\"force\":false,\"name\":\" say \\\"hi\\\"\\n.png \",\"isSensitive\":true,\"folderId\":\"d1\",\"other\":5}");
        QCOMPARE(outcome(result), QStringLiteral(R"({"id":"f1"})"));

        const RecordedRequest request = lastRequest();
        QCOMPARE(request.path, QStringLiteral("/api/drive/files/create"));
        QCOMPARE(request.header("Authorization"), QByteArrayLiteral("Bearer tok-1"));
        const QByteArray contentType = request.header("Content-Type");
        QVERIFY(contentType.startsWith("multipart/form-data; boundary=Quill-"));
        const QByteArray boundary = contentType.mid(contentType.indexOf('=') + 1);
        QCOMPARE(boundary.size(), 6 + 36);
        QCOMPARE(boundary.mid(6), boundary.mid(6).toUpper());
        const QByteArray d = "--" + boundary + "\r\n";
        const QByteArray expected =
            d + "Content-Disposition: form-data; name=\"folderId\"\r\n\r\nd1\r\n"
            + d + "Content-Disposition: form-data; name=\"name\"\r\n\r\n say \"hi\"\n.png \r\n"
            + d + "Content-Disposition: form-data; name=\"isSensitive\"\r\n\r\ntrue\r\n"
            + d + "Content-Disposition: form-data; name=\"force\"\r\n\r\nfalse\r\n"
            + d + "Content-Disposition: form-data; name=\"file\"; filename=\"say 'hi'.png\"\r\n"
            + "Content-Type: image/png\r\n\r\n" + QByteArray("\x89PNG\0data", 9) + "\r\n--" + boundary + "--\r\n";
        QCOMPARE(request.body, expected);

        // Without a name the file's own name is used; an unknown extension is plain bytes.
        const QString other = file(QStringLiteral("notes.qqzz"), "x");
        QVERIFY(m_host->performUpload(other, R"({"name":"  "})"));
        QVERIFY(lastRequest().body.contains("filename=\"notes.qqzz\"\r\nContent-Type: application/octet-stream\r\n"));
    }

    void uploadFailures()
    {
        const QString path = file(QStringLiteral("a.txt"), "x");
        const int sent = int(m_server->requests().size());
        QCOMPARE(outcome(m_host->performUpload(path, R"({"folderId":5})")),
                 QStringLiteral("error: The Misskey server returned an invalid response."));
        QCOMPARE(outcome(m_host->performUpload(path, R"([])")),
                 QStringLiteral("error: The Misskey server returned an invalid response."));
        QVERIFY(outcome(m_host->performUpload(m_files.filePath(QStringLiteral("gone.png")), "{}"))
                    .contains(QStringLiteral("gone.png")));
        QCOMPARE(outcome(m_host->performUpload(m_files.path(), "{}")),
                 QStringLiteral("error: Not a regular file: ") + m_files.path());
        QCOMPARE(int(m_server->requests().size()), sent);
    }

    void httpRequestShape()
    {
        m_server->setResponse(QStringLiteral("/feed"), FakeResponse::json(R"({"items":[1,2]})"));
        const json reply = answer(m_host->performHTTP(
            url("/feed?x=1"),
            R"({"method":"post","query":{"b":[1,true,"a b+c"],"a":"%41","skip":null},"json":{"k":"v"},)"
            R"("headers":{"X-Test":"yes","accept":"text/csv"}})"));
        QVERIFY(reply["status"] == 200);
        QVERIFY(reply["body"] == json::parse(R"({"items":[1,2]})"));
        QVERIFY(reply["headers"]["content-type"].get<std::string>().starts_with("application/json"));
        QVERIFY(reply["url"].get<std::string>().ends_with("/feed?x=1&a=%2541&b=1&b=true&b=a%20b%2Bc"));

        const RecordedRequest request = lastRequest();
        QCOMPARE(request.method, QByteArrayLiteral("POST"));
        QCOMPARE(request.query.toString(QUrl::FullyEncoded), QStringLiteral("x=1&a=%2541&b=1&b=true&b=a%20b%2Bc"));
        QCOMPARE(request.body, QByteArrayLiteral(R"({"k":"v"})"));
        QCOMPARE(request.header("Content-Type"), QByteArrayLiteral("application/json"));
        QCOMPARE(request.header("Accept"), QByteArrayLiteral("text/csv"));
        QCOMPARE(request.header("User-Agent"), QByteArrayLiteral("Quill/1.0"));
        QCOMPARE(request.header("X-Test"), QByteArrayLiteral("yes"));
        QVERIFY(!request.hasHeader("Authorization"));

        QVERIFY(m_host->performHTTP(url("/feed"), R"({"body":"raw","json":null})"));
        QCOMPARE(lastRequest().method, QByteArrayLiteral("GET"));
        QCOMPARE(lastRequest().body, QByteArrayLiteral("raw"));
        QVERIFY(!lastRequest().hasHeader("Content-Type"));
        QCOMPARE(lastRequest().header("Accept"), QByteArrayLiteral("application/json, text/plain;q=0.9, */*;q=0.8"));
    }

    void httpAnswers()
    {
        m_server->setResponse(QStringLiteral("/none"), FakeResponse::empty(204));
        FakeResponse plain = FakeResponse::text("plain words", "text/plain", 404);
        plain.headers.append(qMakePair(QByteArrayLiteral("X-Custom-Header"), QByteArrayLiteral("V1")));
        m_server->setResponse(QStringLiteral("/text"), plain);
        m_server->setResponse(QStringLiteral("/scalar"), FakeResponse::json("42"));
        m_server->setResponse(QStringLiteral("/binary"), FakeResponse::text("\xff\xfe", "application/octet-stream"));
        m_server->setResponse(QStringLiteral("/old"), FakeResponse::redirect(m_server->url().resolved(QUrl(QStringLiteral("/scalar")))));
        QVERIFY(answer(m_host->performHTTP(url("/none"), "{}"))["body"] == nullptr);
        const json text = answer(m_host->performHTTP(url("/text"), "{}"));
        QVERIFY(text["status"] == 404);
        QVERIFY(text["body"] == "plain words");
        QVERIFY(text["headers"]["x-custom-header"] == "V1");
        QCOMPARE(text.size(), std::size_t(4));
        QVERIFY(answer(m_host->performHTTP(url("/scalar"), "{}"))["body"] == 42);
        QVERIFY(answer(m_host->performHTTP(url("/old"), "{}"))["url"] == url("/scalar").toStdString());
        QCOMPARE(outcome(m_host->performHTTP(url("/binary"), "{}")),
                 QStringLiteral("error: The HTTP response is neither JSON nor UTF-8 text."));
    }

    void httpSizeLimit()
    {
        m_server->setResponse(QStringLiteral("/exact"), FakeResponse::text(QByteArray(ScriptHost::maxHTTPResponseBytes, 'a'), "text/plain"));
        m_server->setResponse(QStringLiteral("/over"), FakeResponse::text(QByteArray(ScriptHost::maxHTTPResponseBytes + 1, 'a'), "text/plain"));
        m_server->setResponse(QStringLiteral("/chunked"),
                              FakeResponse::text(QByteArray(ScriptHost::maxHTTPResponseBytes + 1, 'a'), "text/plain")
                                  .withBehaviour(quill::test::FakeBehaviour::chunked));
        QCOMPARE(answer(m_host->performHTTP(url("/exact"), "{}"))["body"].get<std::string>().size(),
                 std::size_t(ScriptHost::maxHTTPResponseBytes));
        QCOMPARE(outcome(m_host->performHTTP(url("/over"), "{}")),
                 QStringLiteral("error: The HTTP response exceeds the 10 MiB limit."));
        QCOMPARE(outcome(m_host->performHTTP(url("/chunked"), "{}")),
                 QStringLiteral("error: The HTTP response exceeds the 10 MiB limit."));
    }

    void httpOptionErrors()
    {
        // Every case fails before anything is sent.
        const QString feed = url("/feed");
        const QString method = QStringLiteral("The HTTP method is invalid.");
        const QString query = QStringLiteral("HTTP query values must be strings, numbers, booleans, or arrays of those values.");
        const QString headers = QStringLiteral("HTTP headers must contain valid string names and values.");
        const QString body = QStringLiteral("The HTTP body is invalid.");
        const QString address = QStringLiteral("HTTP requests require an absolute http:// or https:// URL.");
        const QList<std::tuple<QString, QByteArray, QString>> cases{
            {QStringLiteral("ftp://example.com/"), "{}", address},
            {QStringLiteral("/feed"), "{}", address},
            {QStringLiteral("http:///x"), "{}", address},
            {feed, "[1]", QStringLiteral("HTTP request options must be a table.")},
            {feed, R"({"method":"GET-X"})", method},
            {feed, R"({"method":"G3T"})", method},
            {feed, R"({"method":""})", method},
            {feed, R"({"query":[1]})", query},
            {feed, R"({"query":{"a":[[1]]}})", query},
            {feed, R"({"query":{"a":[null]}})", query},
            {feed, R"({"query":{"a":{}}})", query},
            {feed, R"({"headers":{"A":1}})", headers},
            {feed, R"({"headers":{"A":"x\r\nB: y"}})", headers},
            {feed, R"({"headers":{"A\nB":"x"}})", headers},
            {feed, R"({"json":5})", body},
            {feed, R"({"body":null})", body},
            {feed, R"({"body":1})", body},
        };
        for (const auto &[target, options, message] : cases)
            QCOMPARE(outcome(m_host->performHTTP(target, options)), QStringLiteral("error: ") + message);
        QVERIFY(m_server->requests().isEmpty());
    }

    void timeoutIsClampedToOneSecond()
    {
        m_server->setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(3s));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(outcome(m_host->performHTTP(url("/slow"), R"({"timeout":0})")), QStringLiteral("error: The request timed out."));
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 2500, QByteArray::number(clock.elapsed()).constData());
    }

    void cancelEndsTheRequestInFlight()
    {
        m_server->setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(5s));
        QElapsedTimer clock;
        QTimer::singleShot(300ms, this, [this, &clock] {
            clock.start();
            m_host->cancel();
        });
        QCOMPARE(outcome(m_host->performHTTP(url("/slow"), "{}")), QStringLiteral("error: The request was cancelled."));
        QVERIFY2(clock.elapsed() < 150, QByteArray::number(clock.elapsed()).constData());

        // Every later request of the run fails at once, without being sent.
        const int sent = int(m_server->requests().size());
        QCOMPARE(outcome(m_host->performRequest(QStringLiteral("i"), "{}")), QStringLiteral("error: The request was cancelled."));
        QCOMPARE(int(m_server->requests().size()), sent);
    }

    void aRunIsLoggedFromStartToFinish()
    {
        m_server->setEndpointResponse(QStringLiteral("i"), FakeResponse::json(R"({"id":"u1","username":"bot"})"));
        QSignalSpy finished(m_controller, &ScriptController::runFinished);
        QVERIFY(start(file(QStringLiteral("Upper.CBS"), "me = misskeyMe()\nprint(\"I am\", me[\"username\"])\n")));
        QCOMPARE(m_controller->state(), ScriptExecutionState::running);
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started Upper.CBS"), QStringLiteral("BOT I am\tbot"),
                                       QStringLiteral("INFO Bot script finished.")}));
        QCOMPARE(finished.size(), 1);
    }

    void badFilesDoNotStart()
    {
        QVERIFY(!start(file(QStringLiteral("notes.txt"), "print(1)\n")));
        const QString missing = m_files.filePath(QStringLiteral("missing.cbs"));
        QVERIFY(!start(missing));
        QCOMPARE(m_controller->state(), ScriptExecutionState::idle);
        QCOMPARE(lines(), (QStringList{QStringLiteral("ERROR The selected bot script is not a .cbs file."),
                                       QStringLiteral("ERROR Bot script not found at ") + missing}));
    }

    void twoQuickStartsGiveOneRun()
    {
        const QString path = file(QStringLiteral("once.cbs"), "print(\"ran\")\n");
        QSignalSpy states(m_controller, &ScriptController::stateChanged);
        QVERIFY(start(path));
        QVERIFY(!start(path));
        QVERIFY(waitIdle());
        QCOMPARE(lines().count(QStringLiteral("BOT ran")), 1);
        QCOMPARE(lines().filter(QStringLiteral("Started")).size(), 1);
        QCOMPARE(states.size(), 2);
        // Once idle again, the controller takes a new run.
        QVERIFY(start(path));
        QVERIFY(waitIdle());
        QCOMPARE(lines().count(QStringLiteral("BOT ran")), 2);
    }

    void aScriptThatCallsNothingStopsAtItsEnd()
    {
        QVERIFY(start(file(QStringLiteral("busy.cbs"),
                             "t = getTimeMs()\nwhile getTimeMs() - t < 700\n  x = 1\nend\n")));
        m_controller->stop();
        QCOMPARE(m_controller->state(), ScriptExecutionState::stopping);
        m_controller->stop(); // only a running controller stops
        QVERIFY(waitIdle());
        QCOMPARE(lines(), (QStringList{QStringLiteral("INFO Started busy.cbs"), QStringLiteral("INFO Bot stop requested."),
                                       QStringLiteral("INFO Bot script stopped.")}));
    }

    void aFailureIsReportedOnce()
    {
        QSignalSpy finished(m_controller, &ScriptController::runFinished);
        QVERIFY(start(file(QStringLiteral("fails.cbs"), "error(\"boom\")\n")));
        QVERIFY(waitIdle());
        QCOMPARE(finished.size(), 1);
        const ScriptOutcome outcome = finished.at(0).at(0).value<ScriptOutcome>();
        QCOMPARE(outcome.result, QUILL_SCRIPT_FAILED);
        const QStringList errors = lines().filter(QStringLiteral("ERROR "));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.at(0).startsWith(QStringLiteral("ERROR CobaltScript error: boom")));
        QCOMPARE(QStringLiteral("ERROR ") + outcome.failure.value_or(QString()).trimmed(), errors.at(0));
    }

    void stopCancelsTheRequestInFlight()
    {
        m_server->setResponse(QStringLiteral("/slow"), FakeResponse::json("{}").delayedBy(8s));
        const QString url = m_server->url().toString() + QStringLiteral("/slow");
        QVERIFY(start(file(QStringLiteral("slow.cbs"), "httpGet(\"" + url.toUtf8() + "\")\nprint(\"not reached\")\n")));
        QVERIFY(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 5000));
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        m_controller->stop();
        QVERIFY(waitIdle());
        QVERIFY2(clock.elapsed() < 600, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(lines().last(), QStringLiteral("INFO Bot script stopped."));
        QVERIFY(lines().filter(QStringLiteral("ERROR")).isEmpty());
        QVERIFY(!lines().contains(QStringLiteral("BOT not reached")));
    }
};

QTEST_GUILESS_MAIN(ScriptTest)
#include "script_test.moc"
