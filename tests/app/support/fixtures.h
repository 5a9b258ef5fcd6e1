#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quill::test {

/// Absolute path of a file under tests/app/fixtures ("misskey/timeline-notes.json").
QString fixturePath(const QString &relativePath);

/// The bytes of a fixture; empty, with a warning, when the file cannot be read.
QByteArray readFixture(const QString &relativePath);

/// File names (not paths) of the fixtures in one folder ("misskey"), sorted.
QStringList fixtureNames(const QString &folder);

} // namespace quill::test
