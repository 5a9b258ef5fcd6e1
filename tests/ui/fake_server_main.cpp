// quill-fake-misskey: the tests' loopback Misskey stand-in as a program, so the window can be tried
// without an account. It serves the fixture timeline and account, writes a key file the window
// can sign in with, prints the two options to give quill, and runs until interrupted.
#include "tests/app/support/fake_misskey_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString keyPath = arguments.size() > 1 ? arguments.at(1) : QDir::temp().filePath(QStringLiteral("quill-fake-key.txt"));
    const QString token = QStringLiteral("fake-misskey-token");

    quill::test::FakeMisskeyServer server;
    if (!server.start()) {
        std::fputs("quill-fake-misskey: no loopback port could be bound\n", stderr);
        return 1;
    }
    server.serveDefaultFixtures();
    server.setRequiredToken(token);
    QFile key(keyPath);
    if (!key.open(QIODevice::WriteOnly | QIODevice::Truncate) || key.write(token.toUtf8() + "\n") < 0) {
        std::fprintf(stderr, "quill-fake-misskey: cannot write %s\n", qPrintable(keyPath));
        return 1;
    }
    key.close();
    std::printf("--instance %s --token-file %s\n", qPrintable(server.url().toString()), qPrintable(keyPath));
    std::fflush(stdout);
    return application.exec();
}
