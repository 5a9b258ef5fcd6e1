#include "app/credentials/desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QWidget>

#include <qt6keychain/keychain.h>

#include <QCoro/QCoroSignal>

namespace quill {

namespace {

// Jobs are deleted by us, not by QtKeychain, so that the awaiting code can still read the result.
struct JobDeleter {
    void operator()(QKeychain::Job *job) const { job->deleteLater(); }
};

template <typename JobType>
std::unique_ptr<JobType, JobDeleter> makeJob(const QString &service, const QString &account)
{
    std::unique_ptr<JobType, JobDeleter> job(new JobType(service));
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

// Starts a job and waits for it; a job may also finish inside start().
QCoro::Task<> run(QKeychain::Job *job)
{
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, job, [&finished] { finished = true; });
    job->start();
    if (!finished)
        co_await qCoro(job, &QKeychain::Job::finished);
}

SecretStatus statusOf(const QKeychain::Job &job)
{
    if (job.error() == QKeychain::NoError)
        return {};
    return {qint32(job.error()), job.errorString()};
}

QWidget *dialogParent()
{
    return QApplication::activeWindow();
}

} // namespace

QCoro::Task<SecretCopy> QtKeychainStore::copy(QString service, QString account)
{
    auto job = makeJob<QKeychain::ReadPasswordJob>(service, account);
    co_await run(job.get());
    SecretCopy result{statusOf(*job), {}};
    if (result.status.isSuccess())
        result.data = job->binaryData();
    co_return result;
}

QCoro::Task<SecretStatus> QtKeychainStore::update(QString service, QString account, QByteArray data)
{
    const SecretCopy existing = co_await copy(service, account);
    if (!existing.status.isSuccess())
        co_return existing.status;
    co_return co_await add(std::move(service), std::move(account), std::move(data));
}

QCoro::Task<SecretStatus> QtKeychainStore::add(QString service, QString account, QByteArray data)
{
    auto job = makeJob<QKeychain::WritePasswordJob>(service, account);
    job->setBinaryData(data);
    co_await run(job.get());
    co_return statusOf(*job);
}

QCoro::Task<SecretStatus> QtKeychainStore::remove(QString service, QString account)
{
    auto job = makeJob<QKeychain::DeletePasswordJob>(service, account);
    co_await run(job.get());
    co_return statusOf(*job);
}

std::optional<QUrl> QtFileDialogs::chooseTextFile()
{
    QFileDialog dialog(dialogParent());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QStringLiteral("Text files (*.txt *.TXT)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().constFirst();
}

std::optional<QUrl> QtFileDialogs::chooseScriptFile()
{
    QFileDialog dialog(dialogParent());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("CobaltScript files (*.cbs *.CBS)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().constFirst();
}

std::optional<QUrl> QtFileDialogs::chooseSaveLocation(const SavePanelOptions &options)
{
    QFileDialog dialog(dialogParent(), options.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Text files (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(options.proposedName);
    // Qt's dialog has no message line; the warning is shown where the platform dialog shows help.
    dialog.setToolTip(options.message);
    dialog.setWhatsThis(options.message);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().constFirst();
}

bool DesktopURLOpener::openInBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QSettingsStore::QSettingsStore() : m_settings(std::make_unique<QSettings>()) {}

QSettingsStore::QSettingsStore(const QString &iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat))
{
}

std::optional<QString> QSettingsStore::value(const QString &key) const
{
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key).toString();
}

void QSettingsStore::setValue(const QString &key, const QString &value)
{
    m_settings->setValue(key, value);
}

void QSettingsStore::remove(const QString &key)
{
    m_settings->remove(key);
}

} // namespace quill
