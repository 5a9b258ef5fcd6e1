/*
 * host_test: embeds CobaltScript through quill_script.h alone, as an application does, and
 * checks the interface from the host's side: result codes, error texts, who frees what, null
 * arguments, the request callback's answers, and stopping from another thread.
 *
 *   host_test SCRIPTS_DIR
 *
 * The scripts it runs live in tests/embed/scripts. Run under AddressSanitizer, its leak
 * checker also proves that every text changing hands is freed. The engine's side of embedding
 * (grace periods, runs after failures, freeing cycles) is tests/engine/unit/embed_test.cpp.
 * Exit status 0 when every check holds.
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

#define CHECK_TEXT(actual, expected)                                                            \
    do {                                                                                        \
        const char* actual_ = (actual);                                                         \
        if (!actual_ || strcmp(actual_, (expected)) != 0) {                                     \
            fprintf(stderr, "%s:%d: expected \"%s\", got \"%s\"\n", __FILE__, __LINE__, (expected), \
                    actual_ ? actual_ : "(null)");                                              \
            ++g_failures;                                                                       \
        }                                                                                       \
    } while (0)

static int startsWith(const char* text, const char* prefix)
{
    return text && strncmp(text, prefix, strlen(prefix)) == 0;
}

static void sleepMilliseconds(long milliseconds)
{
    struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

static double nowSeconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* ----- the host: a log and a request callback whose answers a test plans ----- */

enum Answer {
    ANSWER_TEXT,          /* success with the planned response text */
    ANSWER_NO_RESPONSE,   /* non-zero result but no response text */
    ANSWER_FAILURE,       /* zero result with an error text, and a response that must be freed */
    ANSWER_BLOCK,         /* block until the host cancels the request, then fail */
};

typedef struct Host {
    char log[4096]; /* every logged line, each followed by '\n' */
    int requests;
    char endpoint[64];
    char parameters[256];
    enum Answer answers[8];
    const char* texts[8];
    int answerCount;
    atomic_int cancelled; /* set by the stopping thread, as a host cancels its network task */
} Host;

static void hostReset(Host* host)
{
    memset(host->log, 0, sizeof host->log);
    host->requests = 0;
    host->endpoint[0] = host->parameters[0] = '\0';
    host->answerCount = 0;
    atomic_init(&host->cancelled, 0);
}

static void plan(Host* host, enum Answer answer, const char* text)
{
    host->answers[host->answerCount] = answer;
    host->texts[host->answerCount] = text;
    ++host->answerCount;
}

static void onLog(void* context, const char* message)
{
    Host* host = context;
    size_t used = strlen(host->log);
    snprintf(host->log + used, sizeof host->log - used, "%s\n", message);
}

static char* copyText(const char* text)
{
    char* copy = malloc(strlen(text) + 1);
    if (copy) strcpy(copy, text);
    return copy;
}

static int32_t onRequest(void* context, const char* endpoint, const char* parameters, char** response, char** error)
{
    Host* host = context;
    CHECK(*response == NULL && *error == NULL);
    const int index = host->requests++;
    snprintf(host->endpoint, sizeof host->endpoint, "%s", endpoint);
    snprintf(host->parameters, sizeof host->parameters, "%s", parameters);
    enum Answer answer = index < host->answerCount ? host->answers[index] : ANSWER_TEXT;
    const char* text = index < host->answerCount ? host->texts[index] : "";
    switch (answer) {
    case ANSWER_TEXT:
        *response = copyText(text);
        return 1;
    case ANSWER_NO_RESPONSE:
        return 1;
    case ANSWER_FAILURE:
        *response = copyText("{\"ignored\":true}");
        *error = copyText(text);
        return 0;
    case ANSWER_BLOCK:
        while (!atomic_load(&host->cancelled)) sleepMilliseconds(5);
        *error = copyText("request cancelled");
        return 0;
    }
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
    hostReset(host);
    QuillScriptRuntime* runtime = quill_script_runtime_create(host, onLog, onRequest, NULL, NULL);
    CHECK(runtime != NULL);
    return runtime;
}

/* Runs a script; *error receives run's error text, which the caller frees. */
static int32_t runScript(QuillScriptRuntime* runtime, const char* name, char** error)
{
    return quill_script_runtime_run(runtime, scriptPath(name), error);
}

typedef struct Stopper {
    pthread_t thread;
    QuillScriptRuntime* runtime;
    Host* host;
    long delayMilliseconds;
} Stopper;

static void* stopLater(void* argument)
{
    Stopper* stopper = argument;
    sleepMilliseconds(stopper->delayMilliseconds);
    quill_script_runtime_request_stop(stopper->runtime);
    atomic_store(&stopper->host->cancelled, 1);
    return NULL;
}

static void startStopper(Stopper* stopper, QuillScriptRuntime* runtime, Host* host, long delayMilliseconds)
{
    stopper->runtime = runtime;
    stopper->host = host;
    stopper->delayMilliseconds = delayMilliseconds;
    CHECK(pthread_create(&stopper->thread, NULL, stopLater, stopper) == 0);
}

/* ----- the checks ----- */

static void nullArguments(void)
{
    quill_script_runtime_destroy(NULL);
    quill_script_runtime_request_stop(NULL);
    quill_script_free_string(NULL);

    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    const char* required = "A CobaltScript file path is required";
    char* error = NULL;
    CHECK(quill_script_runtime_run(NULL, scriptPath("hello.cbs"), &error) == QUILL_SCRIPT_FAILED);
    CHECK_TEXT(error, required);
    quill_script_free_string(error);
    CHECK(quill_script_runtime_run(runtime, NULL, &error) == QUILL_SCRIPT_FAILED);
    CHECK_TEXT(error, required);
    quill_script_free_string(error);
    CHECK(quill_script_runtime_run(runtime, "", &error) == QUILL_SCRIPT_FAILED);
    CHECK_TEXT(error, required);
    quill_script_free_string(error);
    CHECK(quill_script_runtime_run(runtime, "", NULL) == QUILL_SCRIPT_FAILED);
    quill_script_runtime_destroy(runtime);
}

static void finishedRun(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    char* error = (char*)&host; /* run must store null before anything else */
    CHECK(runScript(runtime, "hello.cbs", &error) == QUILL_SCRIPT_FINISHED);
    CHECK(error == NULL);
    CHECK_TEXT(host.log, "hello\t3\n");
    CHECK(runScript(runtime, "hello.cbs", NULL) == QUILL_SCRIPT_FINISHED);
    quill_script_runtime_destroy(runtime);
}

static void failureTexts(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    char expected[2 * 4096 + 200]; /* room for two script paths */
    char* error = NULL;

    CHECK(runScript(runtime, "does_not_exist.cbs", &error) == QUILL_SCRIPT_FAILED);
    snprintf(expected, sizeof expected, "CobaltScript error: Failed to open script file: %s\n  at %s\n",
             scriptPath("does_not_exist.cbs"), scriptPath("does_not_exist.cbs"));
    CHECK(startsWith(error, expected));
    quill_script_free_string(error);

    CHECK(runScript(runtime, "compile_error.cbs", &error) == QUILL_SCRIPT_FAILED);
    snprintf(expected, sizeof expected, "CobaltScript error: Missing 'end' for if block\n  at %s:3\n",
             scriptPath("compile_error.cbs"));
    CHECK(startsWith(error, expected));
    quill_script_free_string(error);

    CHECK(runScript(runtime, "runtime_error.cbs", &error) == QUILL_SCRIPT_FAILED);
    snprintf(expected, sizeof expected, "CobaltScript error: Division by zero\n  at %s:3, near token '0'\n",
             scriptPath("runtime_error.cbs"));
    CHECK(startsWith(error, expected));
    quill_script_free_string(error);
    CHECK_TEXT(host.log, "before\n");

    CHECK(runScript(runtime, "runtime_error.cbs", NULL) == QUILL_SCRIPT_FAILED);
    quill_script_runtime_destroy(runtime);

    /* No callbacks at all: print goes nowhere, a request fails with a script error. */
    runtime = quill_script_runtime_create(NULL, NULL, NULL, NULL, NULL);
    CHECK(runtime != NULL);
    CHECK(runScript(runtime, "hello.cbs", NULL) == QUILL_SCRIPT_FINISHED);
    CHECK(runScript(runtime, "no_callback.cbs", &error) == QUILL_SCRIPT_FAILED);
    CHECK(startsWith(error, "CobaltScript error: Misskey request callback is unavailable\n"));
    quill_script_free_string(error);
    quill_script_runtime_destroy(runtime);
}

static void requestAnswers(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    plan(&host, ANSWER_TEXT, "42");
    plan(&host, ANSWER_TEXT, ""); /* the empty text stands for no result */
    plan(&host, ANSWER_NO_RESPONSE, NULL);
    plan(&host, ANSWER_FAILURE, "server said no");
    char* error = NULL;
    CHECK(runScript(runtime, "requests.cbs", &error) == QUILL_SCRIPT_FINISHED);
    CHECK(error == NULL);
    CHECK_TEXT(host.log, "42\ntrue\nfalse\tMisskey request failed\nfalse\tserver said no\n");
    CHECK(host.requests == 4);
    CHECK_TEXT(host.endpoint, "i");
    CHECK_TEXT(host.parameters, "{}");
    quill_script_runtime_destroy(runtime);
}

static void stopDuringWait(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    Stopper stopper;
    const double started = nowSeconds();
    startStopper(&stopper, runtime, &host, 200);
    char* error = NULL;
    CHECK(runScript(runtime, "wait.cbs", &error) == QUILL_SCRIPT_STOPPED);
    pthread_join(stopper.thread, NULL);
    CHECK(error == NULL);
    CHECK(nowSeconds() - started < 3.0); /* not the minute it asked for */
    CHECK_TEXT(host.log, "waiting\nfalse\nfalse\n");
    /* The stop is for good: every later run reports it. */
    CHECK(runScript(runtime, "hello.cbs", &error) == QUILL_SCRIPT_STOPPED);
    CHECK(error == NULL);
    quill_script_runtime_destroy(runtime);
}

static void stopWhileBlockedInARequest(void)
{
    Host host;
    QuillScriptRuntime* runtime = newRuntime(&host);
    plan(&host, ANSWER_BLOCK, NULL);
    Stopper stopper;
    startStopper(&stopper, runtime, &host, 200);
    char* error = NULL;
    /* The script catches every failure in pcall; the stop must pass through anyway. */
    CHECK(runScript(runtime, "catch_all.cbs", &error) == QUILL_SCRIPT_STOPPED);
    pthread_join(stopper.thread, NULL);
    CHECK(error == NULL);
    CHECK_TEXT(host.log, "start\n");
    CHECK(host.requests == 1);
    quill_script_runtime_destroy(runtime);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: host_test SCRIPTS_DIR\n");
        return 2;
    }
    g_scripts = argv[1];
    nullArguments();
    finishedRun();
    failureTexts();
    requestAnswers();
    stopDuringWait();
    stopWhileBlockedInARequest();
    if (g_failures) {
        fprintf(stderr, "%d check(s) failed\n", g_failures);
        return 1;
    }
    printf("all host checks passed\n");
    return 0;
}
