#include "app/tray/StatusMenuModel.h"

#include "app/tray/StatusIcon.h"
#include "jobs/JobCenter.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/settings/SettingsStore.h"

#include <QFileInfo>
#include <QHash>

namespace qv {

namespace {

// Names of the key table that are glyphs rather than key names Qt reads.
const QHash<QString, Qt::Key>& glyphKeys()
{
    static const QHash<QString, Qt::Key> keys{
        {QStringLiteral("↩"), Qt::Key_Return},   {QStringLiteral("⇥"), Qt::Key_Tab},
        {QStringLiteral("⌫"), Qt::Key_Backspace}, {QStringLiteral("⌦"), Qt::Key_Delete},
        {QStringLiteral("⎋"), Qt::Key_Escape},    {QStringLiteral("←"), Qt::Key_Left},
        {QStringLiteral("→"), Qt::Key_Right},     {QStringLiteral("↑"), Qt::Key_Up},
        {QStringLiteral("↓"), Qt::Key_Down},      {QStringLiteral("↖"), Qt::Key_Home},
        {QStringLiteral("↘"), Qt::Key_End},       {QStringLiteral("⇞"), Qt::Key_PageUp},
        {QStringLiteral("⇟"), Qt::Key_PageDown},
    };
    return keys;
}

} // namespace

StatusMenuModel StatusMenuModel::make(const JobCenter& jobs, const SettingsStore& store,
                                      std::optional<QKeySequence> convertShortcut)
{
    StatusMenuModel model;
    model.convertShortcut = std::move(convertShortcut);
    model.recent = existingRecentResults(jobs.recent());
    for (const JobPtr& job : jobs.activeJobs())
        model.jobs.append({job->id(), jobLineText(job->title(), job->fileCount(),
                                                  job->firstFileName(), job->fraction())});
    model.paused = store.boolValue(SettingsKey::paused);
    return model;
}

QList<StatusMenuModel::RecentResult> StatusMenuModel::existingRecentResults(const QList<QUrl>& recent)
{
    QList<RecentResult> results;
    for (const QUrl& url : recent) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (!info.exists())
            continue;
        results.append({url, info.fileName(), info.absolutePath()});
    }
    return results;
}

QString StatusMenuModel::activeJobsTitle(int activeCount)
{
    if (activeCount == 0)
        return StatusMenuText::activeJobs;
    return StatusMenuText::activeJobs + QStringLiteral(" (%1)").arg(activeCount);
}

QString StatusMenuModel::jobLineText(const QString& title, int fileCount,
                                     const QString& firstFileName, double fraction)
{
    QString text = title + QStringLiteral(": ");
    text += fileCount == 1 ? firstFileName : QString::number(fileCount) + QStringLiteral(" files");
    if (fraction > 0)
        text += QStringLiteral(" — %1 %").arg(wholePercent(fraction));
    return text;
}

std::optional<QKeySequence> StatusMenuModel::keyEquivalent(quint32 keyCode, quint32 modifierMask,
                                                           const QString& keyName)
{
    int key = Qt::Key_unknown;
    switch (keyCode) {
    case 36: key = Qt::Key_Return; break;
    case 48: key = Qt::Key_Tab; break;
    case 49: key = Qt::Key_Space; break;
    default:
        if (const auto it = glyphKeys().constFind(keyName); it != glyphKeys().constEnd()) {
            key = *it;
        } else {
            const QKeySequence parsed = QKeySequence::fromString(keyName, QKeySequence::PortableText);
            if (parsed.count() == 1 && parsed[0].keyboardModifiers() == Qt::NoModifier)
                key = parsed[0].key();
        }
    }
    if (key == Qt::Key_unknown || key == 0)
        return std::nullopt;

    Qt::KeyboardModifiers modifiers;
    if (modifierMask & Shortcut::superKey)
        modifiers |= Qt::MetaModifier; // command is the Super key here
    if (modifierMask & Shortcut::altKey)
        modifiers |= Qt::AltModifier;
    if (modifierMask & Shortcut::controlKey)
        modifiers |= Qt::ControlModifier;
    if (modifierMask & Shortcut::shiftKey)
        modifiers |= Qt::ShiftModifier;
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)));
}

} // namespace qv
