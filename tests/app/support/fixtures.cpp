#include "tests/app/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QtDebug>

namespace quill::test {

QString fixturePath(const QString &relativePath)
{
    return QStringLiteral(QUILL_APP_FIXTURES_DIR) + QLatin1Char('/') + relativePath;
}

QByteArray readFixture(const QString &relativePath)
{
    QFile file(fixturePath(relativePath));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "cannot read fixture" << file.fileName() << file.errorString();
        return QByteArray();
    }
    return file.readAll();
}

QStringList fixtureNames(const QString &folder)
{
    return QDir(fixturePath(folder)).entryList(QDir::Files, QDir::Name);
}

} // namespace quill::test
