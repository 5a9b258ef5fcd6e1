/*
 * host_test SCRIPTS_DIR: embeds CobaltScript through quill_script.h alone, as an application does,
 * and checks the interface from the host's side: result codes, error texts, who frees what, null
 * arguments, the request callback's answers, and stopping from another thread. Under
 * AddressSanitizer its leak checker also proves that every text changing hands is freed. The
 * engine's side is tests/engine/unit/embed_test.cpp. Exit status 0 when every check holds.
 */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "engine/embed/quill_script.h"

static int g_failures = 0;

#define CHECK(condition)                                                                   \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++g_failures;                                                                  \
        }                                                                                  \
    } while (0)

static void checkText(const char* actual, const char* expected, int line)
{
    if (!actual || strcmp(actual, expected) != 0) {
        fprintf(stderr, "%s:%d: expected \"%s\", got \"%s\"\n", __FILE__, line, expected, actual ? actual : "(null)");
        ++g_failures;
    }
}
#define CHECK_TEXT(actual, expected) checkText(actual, expected, __LINE__)

static void sleepMilliseconds(long milliseconds)
{
    struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

/* ----- the host: a log and a request callback whose answers a test plans ----- */

typedef struct Host {
    QuillScriptRuntime* runtime;
    char log[4096]; /* every logged line, each followed by '\n' */
    int requests;
    char endpoint[64];
    char parameters[256];
    /* The planned answers, one per request (an unplanned one succeeds with ""): "=TEXT" succeeds
       with TEXT, NULL succeeds without a response text, "!TEXT" fails with TEXT (and a response
       that must be freed), "block" blocks until the host cancels the request, then fails. */
    const char* answers[8];
    int answerCount;
    atomic_int cancelled; /* set by the stopping thread, as a host cancels its network task */
} Host;

static void onLog(void* context, const char* message)
{
    Host* host = context;
    size_t used = strlen(host->log);
    snprintf(host->log + used, sizeof host->log - used, "%s\n", message);
}

static int32_t onRequest(void* context, const char* endpoint, const char* parameters, char** response, char** error)
{
    Host* host = context;
    CHECK(*response == NULL && *error == NULL);
    const int index = host->requests++;
    snprintf(host->endpoint, sizeof host->endpoint, "%s", endpoint);
    snprintf(host->parameters, sizeof host->parameters, "%s", parameters);
    const char* answer = index < host->answerCount ? host->answers[index] : "=";
    if (!answer) return 1;
    if (answer[0] == '=') {
        *response = strdup(answer + 1);
        return 1;
    }
    if (answer[0] == '!') {
        *response = strdup("{\"ignored\":true}");
        *error = strdup(answer + 1);
        return 0;
    }
    while (!atomic_load(&host->cancelled)) sleepMilliseconds(5);
    *error = strdup("request cancelled");
    return 0;
}

/* ----- running scripts ----- */

static const char* g_scripts = NULL;

static const char* scriptPath(const char* name)
{
    static char path[4096];
    snprintf(path, sizeof path, "%s/%s", g_scripts, name);
    return path;
}

static QuillScriptRuntime* newRuntime(Host* host)
{
    memset(host, 0, sizeof *host);
    atomic_init(&host->cancelled, 0);
    QuillScriptRuntime* runtime = quill_script_runtime_create(host, onLog, onRequest, NULL, NULL);
    CHECK(runtime != NULL);
    host->runtime = runtime;
    return runtime;
}

/* After 200 ms: a stop, and the host cancels its network task. */
static void* stopLater(void* argument)
{
    Host* host = argument;
    sleepMilliseconds(200);
    quill_script_runtime_request_stop(host->runtime);
    atomic_store(&host->cancelled, 1);
    return NULL;
}

/* ----- the checks ----- */

/* Runs the named script (no path when `name` is null or empty); checks its result and the start
   of its error text ("%s": the script's path; "": no text at all), which run must store over
   whatever the pointer held. */
static void expectRun(QuillScriptRuntime* runtime, const char* name, int32_t result, const char* errorStart, int line)
{
    const char* path = !name || !name[0] ? name : scriptPath(name);
    char expected[3 * 4096 + 200];
    snprintf(expected, sizeof expected, errorStart, path, path);
    char* error = (char*)expected;
    const int32_t actual = quill_script_runtime_run(runtime, path, &error);
    const int textWrong = *expected ? !error || strncmp(error, expected, strlen(expected)) != 0 : error != NULL;
    if (actual != result || error == expected || textWrong) {
        fprintf(stderr, "%s:%d: run of %s gave %d and \"%s\"\n", __FILE__, line, name ? name : "(null)", actual,
                error ? error : "(null)");
        ++g_failures;
    }
    if (error != expected) quill_script_free_string(error);
    CHECK(quill_script_runtime_run(runtime, path, NULL) == result); /* and without an error text */
}
#define EXPECT_RUN(runtime, name, result, errorStart) expectRun(runtime, name, result, errorStart, __LINE__)

static void runsAndFailures(void)
{
    quill_script_runtime_destroy(NULL);
    quill_script_runtime_request_stop(NULL);
    quill_script_free_string(NULL);
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    const char* required = "A CobaltScript file path is required";
    EXPECT_RUN(NULL, "hello.cbs", QUILL_SCRIPT_FAILED, required);
    EXPECT_RUN(runtime, NULL, QUILL_SCRIPT_FAILED, required);
    EXPECT_RUN(runtime, "", QUILL_SCRIPT_FAILED, required);
    EXPECT_RUN(runtime, "hello.cbs", QUILL_SCRIPT_FINISHED, "");
    CHECK_TEXT(host.log, "hello\t3\nhello\t3\n");
    EXPECT_RUN(runtime, "does_not_exist.cbs", QUILL_SCRIPT_FAILED,
               "CobaltScript error: Failed to open script file: %s\n  at %s\n");
    EXPECT_RUN(runtime, "compile_error.cbs", QUILL_SCRIPT_FAILED,
               "CobaltScript error: Missing 'end' for if block\n  at %s:3\n");
    host.log[0] = '\0';
    EXPECT_RUN(runtime, "runtime_error.cbs", QUILL_SCRIPT_FAILED,
               "CobaltScript error: Division by zero\n  at %s:3, near token '0'\n");
    CHECK_TEXT(host.log, "before\nbefore\n");
    quill_script_runtime_destroy(runtime);

    /* No callbacks at all: print goes nowhere, a request fails with a script error. */
    runtime = quill_script_runtime_create(NULL, NULL, NULL, NULL, NULL);
    CHECK(runtime != NULL);
    EXPECT_RUN(runtime, "hello.cbs", QUILL_SCRIPT_FINISHED, "");
    EXPECT_RUN(runtime, "requests.cbs", QUILL_SCRIPT_FAILED,
               "CobaltScript error: Misskey request callback is unavailable\n");
    quill_script_runtime_destroy(runtime);
}

static void requestAnswers(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    const char* answers[] = {"=42", "=" /* the empty text stands for no result */, NULL, "!server said no"};
    memcpy(host.answers, answers, sizeof answers);
    host.answerCount = 4;
    char* error = NULL;
    CHECK(quill_script_runtime_run(runtime, scriptPath("requests.cbs"), &error) == QUILL_SCRIPT_FINISHED);
    CHECK(error == NULL);
    CHECK_TEXT(host.log, "42\ntrue\nfalse\tMisskey request failed\nfalse\tserver said no\n");
    CHECK(host.requests == 4);
    CHECK_TEXT(host.endpoint, "i");
    CHECK_TEXT(host.parameters, "{}");
    quill_script_runtime_destroy(runtime);
}

/* A stop from another thread ends a script waiting for a minute, and one blocked in a request
   whose every failure it catches; it is for good: every later run reports it. */
static void stopFromAnotherThread(const char* script, int blocks, const char* log)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    host.answers[0] = "block";
    host.answerCount = blocks;
    pthread_t thread;
    CHECK(pthread_create(&thread, NULL, stopLater, &host) == 0);
    char* error = NULL;
    CHECK(quill_script_runtime_run(runtime, scriptPath(script), &error) == QUILL_SCRIPT_STOPPED);
    pthread_join(thread, NULL);
    CHECK(error == NULL);
    CHECK_TEXT(host.log, log);
    CHECK(host.requests == blocks);
    EXPECT_RUN(runtime, "hello.cbs", QUILL_SCRIPT_STOPPED, "");
    quill_script_runtime_destroy(runtime);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: host_test SCRIPTS_DIR\n");
        return 2;
    }
    g_scripts = argv[1];
    runsAndFailures();
    requestAnswers();
    /* botWait gives false only when a stop ended its minute. */
    stopFromAnotherThread("wait.cbs", 0, "waiting\nfalse\nfalse\n");
    /* catch_all.cbs catches every failure in pcall; the stop must pass through anyway. */
    stopFromAnotherThread("catch_all.cbs", 1, "start\n");
    if (g_failures) {
        fprintf(stderr, "%d check(s) failed\n", g_failures);
        return 1;
    }
    printf("all host checks passed\n");
    return 0;
}
