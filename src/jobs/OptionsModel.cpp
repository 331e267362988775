#include "jobs/OptionsModel.h"

namespace qv {

OptionsModel::OptionsModel(const OperationOptions& options, const QList<FileInfo>& files,
                           DefaultQuality defaultQuality, QObject* parent)
    : OptionsModel(options, files, std::move(defaultQuality), SettingsSnapshot::load(), parent)
{
}

OptionsModel::OptionsModel(const OperationOptions& options, const QList<FileInfo>& files,
                           DefaultQuality defaultQuality, const SettingsSnapshot& snapshot,
                           QObject* parent)
    : QObject(parent),
      m_options(options),
      m_files(files),
      m_snapshot(snapshot),
      m_defaultQuality(std::move(defaultQuality))
{
}

void OptionsModel::setOptions(const OperationOptions& options)
{
    if (options == m_options)
        return;
    m_options = options;
    Q_EMIT changed();
}

void OptionsModel::updateOptions(const std::function<void(OperationOptions&)>& change)
{
    OperationOptions next = m_options;
    change(next);
    setOptions(next);
}

void OptionsModel::setRemember(bool remember)
{
    if (remember == m_remember)
        return;
    m_remember = remember;
    Q_EMIT changed();
}

void OptionsModel::setFiles(const QList<FileInfo>& files)
{
    if (files == m_files)
        return;
    m_files = files;
    Q_EMIT changed();
}

void OptionsModel::setConfirmPassword(const QString& text)
{
    if (text == m_confirmPassword)
        return;
    m_confirmPassword = text;
    Q_EMIT changed();
}

void OptionsModel::setRangesText(const QString& text)
{
    if (text == m_rangesText)
        return;
    m_rangesText = text;
    Q_EMIT changed();
}

void OptionsModel::setSplitChoice(int choice)
{
    if (choice == m_splitChoice)
        return;
    m_splitChoice = choice;
    Q_EMIT changed();
}

void OptionsModel::setEveryN(int n)
{
    if (n == m_everyN)
        return;
    m_everyN = n;
    Q_EMIT changed();
}

double OptionsModel::defaultQuality() const
{
    return m_defaultQuality ? m_defaultQuality(m_options) : m_snapshot.jpegQuality;
}

} // namespace qv
