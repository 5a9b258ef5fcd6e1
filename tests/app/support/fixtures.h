#pragma once

#include <QDir>
#include <QFile>
#include <QtDebug>

namespace quill::test {

/// Absolute path of a file under tests/app/fixtures ("misskey/timeline-notes.json").
inline QString fixturePath(const QString &relativePath)
{
    return QStringLiteral(QUILL_APP_FIXTURES_DIR "/") + relativePath;
}

/// The bytes of a fixture; empty, with a warning, when the file cannot be read.
inline QByteArray readFixture(const QString &relativePath)
{
    QFile file(fixturePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        qWarning() << "cannot read fixture" << file.fileName() << file.errorString();
    return file.readAll();
}

/// Writes a test's input file and returns its path; a test that cannot write its input cannot run.
inline QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace quill::test
