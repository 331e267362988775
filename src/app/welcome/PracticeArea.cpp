#include "app/welcome/PracticeArea.h"

#include "app/welcome/PracticePhoto.h"
#include "app/welcome/PracticeTile.h"
#include "engines/image/resample/ImageThumbnail.h"
#include "model/Log.h"
#include "model/settings/ModifierGlyph.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "platform/desktop/Workspace.h"
#include "platform/drags/DesktopDragSource.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/processes/ThreadCall.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/DragStrip.h"
#include "wheel/DragWatcher.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace qv {

namespace {

// Twice the tile, for sharp thumbnails on doubled screens.
constexpr QSize thumbnailBox(2 * PracticeTile::tileWidth, 2 * PracticeTile::tileHeight);

QFont scaledFont(const QFont& base, double factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

QColor secondaryText(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    return color;
}

} // namespace

PracticeArea::Services PracticeArea::defaultServices()
{
    Services services{&SettingsStore::shared(), &DragWatcher::shared(), &Workspace::system(),
                      PracticePhoto::defaultFolder(), !desktopDragsHearKeys(),
                      ownDragKeysReachOnlyOurWindows()};
    return services;
}

PracticeArea::PracticeArea(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    setAcceptDrops(true);
    m_rest.setSingleShot(true);
    connect(&m_rest, &QTimer::timeout, this, [this] {
        m_restedHere = true;
        if (m_services.watcher)
            m_services.watcher->ownDragRested();
    });

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(16);

    m_tile = new PracticeTile(this);
    m_tile->setAccent(currentAccentColor(*m_services.store));
    connect(m_tile, &PracticeTile::dragStarted, this, &PracticeArea::startDrag);
    row->addWidget(m_tile, 0, Qt::AlignVCenter);

    auto* instructions = new QVBoxLayout;
    instructions->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Try it here"), this);
    title->setFont(scaledFont(font(), 1.0, QFont::Bold));
    instructions->addWidget(title);

    m_sentence = new QLabel(this);
    m_sentence->setWordWrap(true);
    m_sentence->setFont(scaledFont(font(), 0.93));
    QPalette secondary = m_sentence->palette();
    secondary.setColor(QPalette::WindowText, secondaryText(palette()));
    m_sentence->setPalette(secondary);
    instructions->addWidget(m_sentence);

    auto* reveal = new QPushButton(QStringLiteral("Show Practice Folder"), this);
    reveal->setFlat(true);
    reveal->setCursor(Qt::PointingHandCursor);
    reveal->setFont(scaledFont(font(), 0.93));
    reveal->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; color: %1; }")
                              .arg(palette().color(QPalette::Link).name()));
    connect(reveal, &QPushButton::clicked, this, &PracticeArea::showPracticeFolder);
    instructions->addWidget(reveal, 0, Qt::AlignLeft);
    row->addLayout(instructions, 1);

    updateSentence();
    connect(m_services.store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == SettingsKey::triggerConvert || key == SettingsKey::dragStripEdge
            || key == SettingsKey::dragStripDwell)
            updateSentence();
        else if (key == SettingsKey::accentColor)
            update();
    });

    // Looking for the photo, and painting it when missing, takes up to a second.
    const QString folder = m_services.folder;
    QPointer<PracticeArea> self(this);
    runInBackground([folder, self] {
        std::optional<QString> sample = PracticePhoto::make(folder);
        std::optional<QImage> thumbnail;
        if (sample)
            thumbnail = imageThumbnail(*sample, thumbnailBox);
        postToMainThread([self, sample, thumbnail] {
            if (self)
                self->photoFound(sample, thumbnail);
        });
    });
}

QString PracticeArea::sentenceFor(const std::optional<QString>& convertTrigger,
                                  const std::optional<QString>& restEdge, bool restsOff)
{
    if (restEdge && restsOff) {
        return QStringLiteral("This desktop hides the keys during a drag: set a time for \"Open the first wheel "
                              "after resting\" in Settings, General, to open the wheel by resting.");
    }
    if (restEdge) {
        const QString elsewhere = DragStrip::edgeNamed(*restEdge)
            ? QStringLiteral("With other files, rest at the ") + *restEdge + QStringLiteral(" edge of the screen.")
            : QStringLiteral("For other files, choose a screen edge to rest on in Settings, General.");
        return QStringLiteral("Drag the photo and hold it still in this box until the Convert wheel opens, then "
                              "drop it on PNG. ")
               + elsewhere + QStringLiteral(" The copy appears next to the sample.");
    }
    const std::optional<ModifierChoice> choice =
        enumFromString<ModifierChoice>(convertTrigger.value_or(QString()));
    const QString key = modifierGlyph(choice.value_or(ModifierChoice::shift));
    return QStringLiteral("Drag the photo, tap ") + key
           + QStringLiteral(" while dragging, and drop it on PNG. The copy appears next to the sample.");
}

QString PracticeArea::sentence() const
{
    return m_sentence->text();
}

void PracticeArea::updateSentence()
{
    std::optional<QString> restEdge;
    if (m_services.opensByRest)
        restEdge = m_services.store->stringValue(SettingsKey::dragStripEdge).value_or(QString());
    m_sentence->setText(
        sentenceFor(m_services.store->stringValue(SettingsKey::triggerConvert), restEdge, restMs() == 0));
}

int PracticeArea::restMs() const
{
    const double seconds = m_services.store->doubleValue(SettingsKey::dragStripDwell);
    if (!(seconds > 0) || !std::isfinite(seconds))
        return 0;
    return int(std::lround(std::min(seconds, 10.0) * 1000));
}

void PracticeArea::photoFound(std::optional<QString> sample, std::optional<QImage> thumbnail)
{
    m_sample = std::move(sample);
    m_tile->setThumbnail(std::move(thumbnail));
    m_ready = true;
    if (isVisible())
        logPlace();
    Q_EMIT ready();
}

void PracticeArea::logPlace() const
{
    const QPoint at = m_tile->mapTo(window(), m_tile->rect().center());
    qCDebug(appLog, "Practice photo ready at %d,%d in its window", at.x(), at.y());
}

void PracticeArea::loadThumbnail()
{
    if (!m_sample)
        return;
    const QString path = *m_sample;
    QPointer<PracticeArea> self(this);
    runInBackground([path, self] {
        std::optional<QImage> thumbnail = imageThumbnail(path, thumbnailBox);
        postToMainThread([self, thumbnail] {
            if (self)
                self->m_tile->setThumbnail(thumbnail);
        });
    });
}

void PracticeArea::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_tile->setAccent(currentAccentColor(*m_services.store));
    // The photo may have been deleted or replaced since the window was last shown.
    if (m_ready) {
        loadThumbnail();
        logPlace();
    }
}

QMimeData* PracticeArea::prepareDrag()
{
    auto* data = new QMimeData;
    if (!m_sample)
        return data;
    const QUrl url = QUrl::fromLocalFile(*m_sample);
    // While paused the watcher ignores drags, so no wheel opens; the file still drags.
    if (!m_services.store->boolValue(SettingsKey::paused) && m_services.watcher) {
        m_services.watcher->stopWatching();
        m_services.watcher->beginFileDrag({url}, {});
    }
    if (QFileInfo::exists(*m_sample))
        data->setUrls({url});
    return data;
}

void PracticeArea::startDrag()
{
    auto* drag = new QDrag(this);
    drag->setMimeData(prepareDrag());
    if (m_tile->hasThumbnail())
        drag->setPixmap(m_tile->grab());
    m_dragging = true;
    m_heldKeys.clear();
    // Qt's drag eats every key it sees while it runs; a filter installed once it runs sees them
    // first.
    if (m_services.tellsOwnKeys) {
        QTimer::singleShot(0, this, [this] {
            if (m_dragging)
                qApp->installEventFilter(this);
        });
    }
    drag->exec(Qt::CopyAction);
    // Where no back end sees the button come up (Wayland), the drag is over now.
    if (m_services.watcher && m_services.watcher->isOwnDrag())
        m_services.watcher->stopWatching();
    m_dragging = false;
    qApp->removeEventFilter(this);
    m_rest.stop();
    m_restFrom.reset();
    m_heldKeys.clear();
}

void PracticeArea::restartRest(QPoint at)
{
    if (!m_services.opensByRest || m_restedHere)
        return;
    if (m_restFrom && (at - *m_restFrom).manhattanLength() < QApplication::startDragDistance())
        return;
    m_restFrom = at;
    if (const int ms = restMs(); ms > 0)
        m_rest.start(ms);
}

void PracticeArea::dragEnterEvent(QDragEnterEvent* event)
{
    // Taking nothing: a drop here leaves the photo where it is.
    event->ignore();
    if (!m_dragging || event->source() != this)
        return;
    m_restedHere = false;
    m_restFrom.reset();
    restartRest(event->position().toPoint());
    // Keys let go while the drag was over another program's window were never heard.
    if (!m_heldKeys.isEmpty() && m_services.watcher) {
        m_heldKeys.clear();
        m_services.watcher->ownDragModifiersChanged(0);
    }
}

void PracticeArea::dragMoveEvent(QDragMoveEvent* event)
{
    event->ignore();
    if (m_dragging && event->source() == this)
        restartRest(event->position().toPoint());
}

void PracticeArea::dragLeaveEvent(QDragLeaveEvent*)
{
    m_rest.stop();
    m_restFrom.reset();
}

void PracticeArea::dropEvent(QDropEvent* event)
{
    event->ignore();
}

bool PracticeArea::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && m_dragging
        && m_services.watcher) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (const std::optional<quint32> flag = modifierFlagOfKey(key->key()); flag && !key->isAutoRepeat()) {
            if (event->type() == QEvent::KeyPress)
                m_heldKeys.insert(key->key(), *flag);
            else
                m_heldKeys.remove(key->key());
            quint32 flags = 0;
            for (const quint32 held : std::as_const(m_heldKeys))
                flags |= held;
            m_services.watcher->ownDragModifiersChanged(flags);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PracticeArea::showPracticeFolder()
{
    if (m_sample && m_services.workspace)
        m_services.workspace->reveal({QUrl::fromLocalFile(*m_sample)});
}

void PracticeArea::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor accent = currentAccentColor(*m_services.store);
    accent.setAlphaF(0.5f);
    const double line = 1.5;
    QPen pen(accent, line);
    // Dash lengths count in line widths: 6 on, 4 off.
    pen.setDashPattern({6 / line, 4 / line});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF border = QRectF(rect()).adjusted(line / 2, line / 2, -line / 2, -line / 2);
    painter.drawRoundedRect(border, 14, 14);
}

} // namespace qv
