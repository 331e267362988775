#include "editors/annotate/AnnotateView.h"

#include "editors/annotate/AnnotateCanvas.h"
#include "editors/annotate/AnnotateModel.h"
#include "editors/annotate/AnnotateSwatch.h"
#include "graphics/SymbolTable.h"
#include "widgets/SegmentedPicker.h"
#include "platform/ui/EditorButtons.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace qv {

namespace {

struct ToolItem {
    Annotation::Kind kind;
    const char* symbol;
    const char* help;
};

constexpr ToolItem toolItems[] = {
    {Annotation::Kind::arrow, "arrow.up.right", "Arrow"},
    {Annotation::Kind::rectangle, "rectangle", "Rectangle"},
    {Annotation::Kind::ellipse, "circle", "Ellipse"},
    {Annotation::Kind::pen, "scribble", "Pen"},
    {Annotation::Kind::highlight, "highlighter", "Highlight"},
    {Annotation::Kind::text, "textformat", "Text"},
};

constexpr int textFieldWidth = 220;

} // namespace

const QList<QString>& AnnotateView::colors()
{
    static const QList<QString> list{
        QStringLiteral("#FF3B30"), QStringLiteral("#FF9500"), QStringLiteral("#FFCC00"), QStringLiteral("#34C759"),
        QStringLiteral("#007AFF"), QStringLiteral("#AF52DE"), QStringLiteral("#000000"), QStringLiteral("#FFFFFF")};
    return list;
}

AnnotateView::AnnotateView(const QImage& image, AnnotateModel* model, std::function<void()> cancel,
                           std::function<void()> apply, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    auto* toolbar = new QHBoxLayout;
    toolbar->setSpacing(10);
    QList<OptionChoice> choices;
    for (const ToolItem& item : toolItems)
        choices.append({QString(), QVariant::fromValue(int(item.kind))});
    m_tools = new SegmentedPicker(choices);
    m_tools->setAccessibleName(QStringLiteral("Tool"));
    m_tools->setFixedWidth(270);
    for (int i = 0; i < int(std::size(toolItems)); ++i) {
        QAbstractButton* button = m_tools->button(i);
        button->setIcon(symbolIcon(QString::fromLatin1(toolItems[i].symbol)));
        button->setToolTip(QString::fromLatin1(toolItems[i].help));
        button->setAccessibleName(QString::fromLatin1(toolItems[i].help));
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_tools, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { m_model->setTool(Annotation::Kind(value.toInt())); });
    toolbar->addWidget(m_tools);

    auto* swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(5);
    for (const QString& hex : colors()) {
        auto* swatch = new AnnotateSwatch(hex);
        connect(swatch, &AnnotateSwatch::clicked, this, [this, hex] { m_model->setColorHex(hex); });
        swatchRow->addWidget(swatch);
        m_swatches.append(swatch);
    }
    toolbar->addLayout(swatchRow);
    toolbar->addStretch(1);

    m_undo = new QPushButton;
    m_undo->setIcon(symbolIcon(QStringLiteral("arrow.uturn.backward")));
    m_undo->setToolTip(QStringLiteral("Undo"));
    m_undo->setAccessibleName(QStringLiteral("Undo"));
    m_undo->setFocusPolicy(Qt::NoFocus);
    m_undo->setAutoDefault(false);
    connect(m_undo, &QPushButton::clicked, this, [this] { m_model->undo(); });
    toolbar->addWidget(m_undo);
    // Straight to the button's action, not a button press animated over a tenth of a second.
    // A text field with the focus keeps Ctrl+Z for its own typing.
    auto* undoKey = new QShortcut(QKeySequence::Undo, this);
    undoKey->setContext(Qt::WindowShortcut);
    connect(undoKey, &QShortcut::activated, m_undo, &QPushButton::click);
    layout->addLayout(toolbar);

    m_canvas = new AnnotateCanvas(image, model);
    layout->addWidget(m_canvas, 0, Qt::AlignHCenter);
    m_canvas->installEventFilter(this);

    m_buttons = new EditorButtons(QStringLiteral("Save Copy"), std::move(cancel), std::move(apply));
    layout->addWidget(m_buttons);

    // Over the canvas but a child of the view, so on a narrow picture it may reach past the
    // picture's left edge rather than be cut off.
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(QStringLiteral("Text"));
    m_field->setFixedWidth(textFieldWidth);
    m_field->installEventFilter(this);
    m_field->hide();
    connect(m_field, &QLineEdit::textEdited, this, [this](const QString& text) { m_model->setTextInput(text); });
    connect(m_field, &QLineEdit::returnPressed, this, [this] { m_model->commitText(); });

    connect(m_model, &AnnotateModel::annotationsChanged, this, &AnnotateView::refresh);
    connect(m_model, &AnnotateModel::toolChanged, this, &AnnotateView::refresh);
    connect(m_model, &AnnotateModel::colorChanged, this, &AnnotateView::refresh);
    connect(m_model, &AnnotateModel::textChanged, this, &AnnotateView::refreshText);
    refresh();
    refreshText();
}

void AnnotateView::refresh()
{
    m_tools->setCurrentValue(int(m_model->tool()));
    for (AnnotateSwatch* swatch : std::as_const(m_swatches))
        swatch->setSelected(swatch->hex() == m_model->colorHex());
    m_undo->setEnabled(!m_model->annotations().isEmpty());
    m_buttons->setActionEnabled(m_model->canSave());
}

void AnnotateView::refreshText()
{
    if (!m_model->textPoint()) {
        m_field->hide();
        m_field->clear();
    } else {
        if (m_field->text() != m_model->textInput())
            m_field->setText(m_model->textInput());
        placeTextField();
        const bool opening = !m_field->isVisible();
        m_field->show();
        m_field->raise();
        if (opening || !m_field->hasFocus())
            m_field->setFocus(Qt::OtherFocusReason);
    }
    m_buttons->setActionEnabled(m_model->canSave());
}

void AnnotateView::placeTextField()
{
    const std::optional<QPointF> point = m_model->textPoint();
    if (!point)
        return;
    const double s = m_canvas->scale();
    const double x = std::min(point->x() * s, m_canvas->pictureRect().width() - textFieldWidth);
    const double y = point->y() * s;
    m_field->move(m_canvas->pos() + QPointF(x, y).toPoint());
}

bool AnnotateView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_canvas && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeTextField();
    if (watched == m_field && event->type() == QEvent::ShortcutOverride) {
        // Return in the field places the text; it never saves the copy.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            event->accept();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qv
