#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsSnapshot.h"

#include <QObject>

#include <functional>

namespace qv {

// What one open options sheet edits: the options and the few values that belong to the sheet
// itself. Every setter that changes something announces it through changed().
class OptionsModel : public QObject {
    Q_OBJECT
public:
    using DefaultQuality = std::function<double(const OperationOptions&)>;

    // The snapshot is read from the settings store now and never follows later changes.
    OptionsModel(const OperationOptions& options, const QList<FileInfo>& files,
                 DefaultQuality defaultQuality, QObject* parent = nullptr);
    OptionsModel(const OperationOptions& options, const QList<FileInfo>& files,
                 DefaultQuality defaultQuality, const SettingsSnapshot& snapshot,
                 QObject* parent = nullptr);

    const OperationOptions& options() const { return m_options; }
    void setOptions(const OperationOptions& options);
    // Changes one or more fields of the options as one announced change.
    void updateOptions(const std::function<void(OperationOptions&)>& change);

    bool remember() const { return m_remember; }
    void setRemember(bool remember);

    const QList<FileInfo>& files() const { return m_files; }
    void setFiles(const QList<FileInfo>& files);

    const QString& confirmPassword() const { return m_confirmPassword; }
    void setConfirmPassword(const QString& text);

    const QString& rangesText() const { return m_rangesText; }
    void setRangesText(const QString& text);

    // 0 every page, 1 every N pages, 2 page ranges.
    int splitChoice() const { return m_splitChoice; }
    void setSplitChoice(int choice);

    int everyN() const { return m_everyN; }
    void setEveryN(int n);

    const SettingsSnapshot& snapshot() const { return m_snapshot; }
    double defaultQuality() const;

Q_SIGNALS:
    void changed();

private:
    OperationOptions m_options;
    bool m_remember = false;
    QList<FileInfo> m_files;
    QString m_confirmPassword;
    QString m_rangesText;
    int m_splitChoice = 0;
    int m_everyN = 2;
    SettingsSnapshot m_snapshot;
    DefaultQuality m_defaultQuality;
};

} // namespace qv
