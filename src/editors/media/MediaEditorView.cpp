#include "editors/media/MediaEditorView.h"

#include "editors/BusyIndicator.h"
#include "editors/media/Filmstrip.h"
#include "editors/media/MediaPlayerPort.h"
#include "editors/media/MediaTimeline.h"
#include "editors/media/PlayerSurface.h"
#include "editors/media/TimeLabel.h"
#include "graphics/SymbolTable.h"
#include "widgets/SegmentedPicker.h"
#include "platform/ui/EditorButtons.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

namespace qv {

namespace {

// The piece length: 5 s steps below 5 minutes, whole minutes from there, read as a time.
class SecondsStepper : public QSpinBox {
public:
    explicit SecondsStepper(QWidget* parent) : QSpinBox(parent)
    {
        setRange(5, 7200);
        setKeyboardTracking(false);
    }

    void stepBy(int steps) override
    {
        for (int i = 0; i < std::abs(steps); ++i) {
            const int step = value() < 300 ? 5 : 60;
            setValue(value() + (steps > 0 ? step : -step));
        }
    }

protected:
    QString textFromValue(int value) const override { return QStringLiteral("Every ") + timeLabel(value); }
    int valueFromText(const QString& text) const override
    {
        QString rest = text;
        rest.remove(QStringLiteral("Every "));
        int seconds = 0;
        for (const QString& piece : rest.trimmed().split(QLatin1Char(':')))
            seconds = seconds * 60 + piece.toInt();
        return seconds;
    }
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
};

QLabel* readout(QWidget* parent)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setStyleHint(QFont::Monospace);
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    label->setFont(font);
    return label;
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QPushButton* unfocused(QPushButton* button)
{
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

} // namespace

MediaEditorView::MediaEditorView(MediaTimeline* timeline, MediaPlayerPort* player, TrimEditor::Mode mode,
                                 const MediaEditorLayout& layout, MediaEditorActions actions,
                                 std::function<void()> cancel, QWidget* parent)
    : QWidget(parent), m_timeline(timeline), m_mode(mode), m_actions(std::move(actions))
{
    const bool split = mode == TrimEditor::Mode::split;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);
    setFixedWidth(layout.width + 36);

    if (layout.pictureSize) {
        auto* row = new QHBoxLayout;
        QWidget* surface = player ? player->makeSurface(this) : nullptr;
        if (!surface)
            surface = new QWidget(this);
        surface->setObjectName(QStringLiteral("picture"));
        surface->setFixedSize(*layout.pictureSize);
        row->addStretch(1);
        row->addWidget(surface);
        row->addStretch(1);
        column->addLayout(row);
        m_pictureBusy = new BusyIndicator(surface, QStringLiteral("Loading…"));
        // The player takes a while to show its first frame; the filmstrip's first still,
        // read apart from it, fills the picture until then.
        auto* picture = qobject_cast<PlayerSurface*>(surface);
        if (picture) {
            connect(timeline, &MediaTimeline::thumbnailsChanged, picture, [picture, timeline] {
                if (!picture->hasPicture() && timeline->thumbnails().contains(0))
                    picture->setFirstPicture(timeline->thumbnails().value(0));
            });
        }
        // A player that hands over its frames as they come shows its picture with its first.
        if (picture && picture->followsFrames()) {
            timeline->setPictureWatched(true);
            connect(picture, &PlayerSurface::frameArrived, this, [this] {
                if (m_timeline)
                    m_timeline->setPictureShown(true);
            });
        }
    }

    auto* transport = new QHBoxLayout;
    transport->setSpacing(10);
    m_play = unfocused(new QPushButton(this));
    m_play->setFixedSize(30, 30);
    m_strip = new Filmstrip(timeline, !split, m_actions.seek, this);
    connect(m_play, &QPushButton::clicked, this, [this] {
        if (m_actions.togglePlay)
            m_actions.togglePlay();
    });
    transport->addWidget(m_play);
    transport->addWidget(m_strip, 1);
    column->addLayout(transport);
    m_stripBusy = new BusyIndicator(m_strip, timeline->hasVideo ? QStringLiteral("Reading frames…")
                                                                 : QStringLiteral("Reading the sound…"));

    auto* readouts = new QHBoxLayout;
    m_left = readout(this);
    m_right = readout(this);
    readouts->addWidget(m_left);
    readouts->addStretch(1);
    if (!split) {
        m_middle = readout(this);
        QFont bold = m_middle->font();
        bold.setBold(true);
        m_middle->setFont(bold);
        readouts->addWidget(m_middle);
        readouts->addStretch(1);
    } else {
        m_right->setForegroundRole(QPalette::PlaceholderText);
    }
    readouts->addWidget(m_right);
    column->addLayout(readouts);

    if (mode == TrimEditor::Mode::ringtone)
        column->addWidget(caption(QStringLiteral("Ringtones can be at most 40 seconds long."), this));

    if (split) {
        m_picker = new SegmentedPicker({{QStringLiteral("At split points"), MediaTimeline::atPoints},
                                        {QStringLiteral("Equal parts"), MediaTimeline::equalParts},
                                        {QStringLiteral("Every…"), MediaTimeline::everySeconds}},
                                       this);
        m_picker->setAccessibleName(QStringLiteral("Split"));
        for (QAbstractButton* segment : m_picker->findChildren<QAbstractButton*>())
            segment->setFocusPolicy(Qt::NoFocus);
        m_picker->setCurrentValue(timeline->splitMode());
        connect(m_picker, &SegmentedPicker::activated, this, [this](const QVariant& value) {
            if (m_timeline)
                m_timeline->setSplitMode(value.toInt());
        });
        auto* pickerRow = new QHBoxLayout;
        pickerRow->addWidget(m_picker);
        pickerRow->addStretch(1);
        column->addLayout(pickerRow);

        m_splitRows = new QStackedWidget(this);
        auto* pointsRow = new QWidget(m_splitRows);
        auto* points = new QHBoxLayout(pointsRow);
        points->setContentsMargins(0, 0, 0, 0);
        m_addSplit = unfocused(new QPushButton(pointsRow));
        m_addSplit->setIcon(QIcon::fromTheme(QStringLiteral("edit-cut")));
        m_clear = unfocused(new QPushButton(QStringLiteral("Clear"), pointsRow));
        m_hint = caption(QString(), pointsRow);
        points->addWidget(m_addSplit);
        points->addWidget(m_clear);
        points->addStretch(1);
        points->addWidget(m_hint);
        connect(m_addSplit, &QPushButton::clicked, this, [this] {
            if (m_timeline)
                m_timeline->addMarkerAtPlayhead();
        });
        connect(m_clear, &QPushButton::clicked, this, [this] {
            if (m_timeline)
                m_timeline->setMarkers({});
        });
        m_splitRows->addWidget(pointsRow);

        auto* partsRow = new QWidget(m_splitRows);
        auto* partsLayout = new QHBoxLayout(partsRow);
        partsLayout->setContentsMargins(0, 0, 0, 0);
        m_parts = new QSpinBox(partsRow);
        m_parts->setRange(2, 50);
        m_parts->setSuffix(QStringLiteral(" equal parts"));
        m_parts->setAccessibleName(QStringLiteral("Equal parts"));
        m_parts->setValue(timeline->parts());
        partsLayout->addWidget(m_parts);
        partsLayout->addStretch(1);
        connect(m_parts, &QSpinBox::valueChanged, this, [this](int value) {
            if (m_timeline)
                m_timeline->setParts(value);
        });
        m_splitRows->addWidget(partsRow);

        auto* everyRow = new QWidget(m_splitRows);
        auto* everyLayout = new QHBoxLayout(everyRow);
        everyLayout->setContentsMargins(0, 0, 0, 0);
        m_seconds = new SecondsStepper(everyRow);
        m_seconds->setAccessibleName(QStringLiteral("Every"));
        m_seconds->setValue(int(timeline->seconds()));
        everyLayout->addWidget(m_seconds);
        everyLayout->addStretch(1);
        connect(m_seconds, &QSpinBox::valueChanged, this, [this](int value) {
            if (m_timeline)
                m_timeline->setSeconds(value);
        });
        m_splitRows->addWidget(everyRow);
        column->addWidget(m_splitRows);

        auto* b = new QShortcut(QKeySequence(Qt::Key_B), this);
        b->setContext(Qt::WindowShortcut);
        connect(b, &QShortcut::activated, this, [this] {
            if (m_timeline && m_timeline->splitMode() == MediaTimeline::atPoints)
                m_timeline->addMarkerAtPlayhead();
        });
    }

    const QString title = mode == TrimEditor::Mode::split      ? QStringLiteral("Split")
                          : mode == TrimEditor::Mode::ringtone ? QStringLiteral("Make Ringtone")
                                                               : QStringLiteral("Trim");
    m_buttons = new EditorButtons(title, std::move(cancel), m_actions.apply, this);
    m_buttons->cancelButton()->setFocusPolicy(Qt::NoFocus);
    m_buttons->actionButton()->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_buttons);

    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WindowShortcut);
    connect(space, &QShortcut::activated, m_play, &QPushButton::click);

    connect(timeline, &MediaTimeline::changed, this, &MediaEditorView::refresh);
    connect(timeline, &MediaTimeline::timeChanged, this, &MediaEditorView::refreshTime);
    connect(timeline, &MediaTimeline::loadingChanged, this, &MediaEditorView::refreshBusy);
    connect(timeline, &MediaTimeline::thumbnailsChanged, this, &MediaEditorView::refreshBusy);
    connect(timeline, &MediaTimeline::peaksChanged, this, &MediaEditorView::refreshBusy);
    refresh();
    refreshBusy();
}

void MediaEditorView::refreshBusy()
{
    if (!m_timeline)
        return;
    if (m_pictureBusy)
        m_pictureBusy->setBusy(!m_timeline->isPictureShown());
    // The strip is busy until its first frame or its levels arrive, or its reading ends.
    const bool anything = m_timeline->hasVideo ? !m_timeline->thumbnails().isEmpty() : !m_timeline->peaks().isEmpty();
    m_stripBusy->setBusy(m_timeline->areFramesLoading() && !anything);
}

void MediaEditorView::refreshTime()
{
    if (!m_timeline)
        return;
    const MediaTimeline& model = *m_timeline;
    if (m_mode == TrimEditor::Mode::split) {
        m_left->setText(timeLabel(model.time(), true));
        m_addSplit->setText(QStringLiteral("Add Split at ") + timeLabel(model.time(), true));
    }
}

void MediaEditorView::refresh()
{
    if (!m_timeline)
        return;
    const MediaTimeline& model = *m_timeline;
    const bool split = m_mode == TrimEditor::Mode::split;
    // The style's transport icons are grey, as if the button were disabled.
    m_play->setIcon(tintedSymbolIcon(model.isPlaying() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                                     palette().color(QPalette::ButtonText)));
    const QString help = model.isPlaying() ? QStringLiteral("Pause (Space)")
                         : split          ? QStringLiteral("Play (Space)")
                                          : QStringLiteral("Play the selection (Space)");
    m_play->setToolTip(help);
    m_play->setAccessibleName(help);
    if (split) {
        m_right->setText(timeLabel(model.duration, true));
        m_picker->setCurrentValue(model.splitMode());
        m_splitRows->setCurrentIndex(model.splitMode());
        const qsizetype count = model.markers().size();
        m_clear->setVisible(count > 0);
        m_hint->setText(count == 0 ? QStringLiteral("Play or scrub, then press B to split")
                                   : QString::number(count + 1) + QStringLiteral(" parts · click a mark to remove it"));
        if (m_parts->value() != model.parts())
            m_parts->setValue(model.parts());
        if (m_seconds->value() != int(model.seconds()))
            m_seconds->setValue(int(model.seconds()));
        m_buttons->setActionEnabled(model.canApplySplit());
        refreshTime();
    } else {
        m_left->setText(timeLabel(model.start(), true));
        m_middle->setText(timeLabel(model.end() - model.start(), true) + QStringLiteral(" selected"));
        m_right->setText(timeLabel(model.end(), true));
        m_buttons->setActionEnabled(m_mode == TrimEditor::Mode::ringtone || !model.coversWholeFile());
    }
}

} // namespace qv
