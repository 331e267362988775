#include "editors/annotate/AnnotateCanvas.h"
#include "editors/annotate/AnnotateEditor.h"
#include "editors/annotate/AnnotateModel.h"
#include "editors/annotate/AnnotateSwatch.h"
#include "editors/annotate/AnnotateView.h"
#include "widgets/SegmentedPicker.h"
#include "platform/ui/EditorButtons.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/resource.h>

using namespace qv;

namespace {

QImage white(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

struct Editor {
    AnnotateModel* model;
    AnnotateView view;
    int cancels = 0;
    int applies = 0;

    // The picture shown is at most 1600 pixels, the marks in pixels of the full size.
    explicit Editor(QSize pixelSize, QSize shown = {})
        : model(new AnnotateModel(QSizeF(pixelSize))),
          view(white(shown.isValid() ? shown : pixelSize), model, [this] { ++cancels; }, [this] { ++applies; })
    {
        model->setParent(&view);
    }

    AnnotateCanvas* canvas() const { return view.canvas(); }
    void pick(Annotation::Kind tool) { model->setTool(tool); }
};

void mouse(QWidget* widget, QEvent::Type type, QPointF local)
{
    const bool move = type == QEvent::MouseMove;
    const Qt::MouseButton button = move ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(QWidget* widget, QPointF local)
{
    mouse(widget, QEvent::MouseButtonPress, local);
    mouse(widget, QEvent::MouseButtonRelease, local);
}

void drag(QWidget* widget, QPointF from, QPointF to, int steps = 4)
{
    mouse(widget, QEvent::MouseButtonPress, from);
    for (int i = 1; i <= steps; ++i)
        mouse(widget, QEvent::MouseMove, from + (to - from) * (double(i) / steps));
    mouse(widget, QEvent::MouseButtonRelease, to);
}

void key(QWidget* widget, int code, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        key(widget, Qt::Key_A + (c.toUpper().unicode() - 'A'), QString(c));
}

void expectNear(QPointF actual, QPointF expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-6);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-6);
}

} // namespace

TEST(AnnotateCanvas, FitsThePictureInto720By480)
{
    EXPECT_DOUBLE_EQ(AnnotateCanvas::scaleFor(QSizeF(1000, 1000)), 0.48);
    EXPECT_DOUBLE_EQ(AnnotateCanvas::scaleFor(QSizeF(4000, 3000)), 0.16);
    EXPECT_DOUBLE_EQ(AnnotateCanvas::scaleFor(QSizeF(300, 200)), 2.4); // small pictures grow

    // A 1600-pixel display of a 4000-pixel picture is shown at the full picture's scale.
    Editor editor(QSize(4000, 3000), QSize(1600, 1200));
    EXPECT_EQ(editor.canvas()->size(), QSize(640, 480));
    EXPECT_EQ(editor.canvas()->targetRect("picture"), QRectF(0, 0, 640, 480));
    EXPECT_FALSE(editor.canvas()->targetRect("elsewhere"));
}

TEST(AnnotateCanvas, AClickWithAShapeToolGivesTwoEqualPoints)
{
    Editor editor(QSize(1000, 1000));
    editor.pick(Annotation::Kind::rectangle);
    editor.model->setColorHex(QStringLiteral("#34C759"));
    click(editor.canvas(), QPointF(48, 96));
    ASSERT_EQ(editor.model->annotations().size(), 1);
    const Annotation& mark = editor.model->annotations().first();
    EXPECT_EQ(mark.kind, Annotation::Kind::rectangle);
    ASSERT_EQ(mark.points.size(), 2);
    expectNear(mark.points[0], QPointF(100, 200));
    expectNear(mark.points[1], QPointF(100, 200));
    EXPECT_EQ(mark.colorHex, QStringLiteral("#34C759"));
    EXPECT_NEAR(mark.lineWidth, 1000.0 / 220, 1e-9);
    EXPECT_FALSE(mark.text);
    EXPECT_FALSE(mark.fontSize);
    EXPECT_FALSE(editor.model->draft());
}

TEST(AnnotateCanvas, APenClickGivesItsPointTwiceAndADragEveryPosition)
{
    Editor editor(QSize(1000, 1000));
    editor.pick(Annotation::Kind::pen);
    click(editor.canvas(), QPointF(24, 24));
    ASSERT_EQ(editor.model->annotations().size(), 1);
    const QList<QPointF> clicked = editor.model->annotations().first().points;
    ASSERT_EQ(clicked.size(), 2);
    expectNear(clicked[0], QPointF(50, 50));
    expectNear(clicked[1], QPointF(50, 50));

    editor.pick(Annotation::Kind::highlight);
    drag(editor.canvas(), QPointF(0, 0), QPointF(96, 48), 4);
    ASSERT_EQ(editor.model->annotations().size(), 2);
    const QList<QPointF> stroke = editor.model->annotations().last().points;
    ASSERT_EQ(stroke.size(), 5);
    expectNear(stroke.first(), QPointF(0, 0));
    expectNear(stroke[2], QPointF(100, 50));
    expectNear(stroke.last(), QPointF(200, 100));
}

TEST(AnnotateCanvas, PointsPastTheEdgeAreKeptAsTheyAre)
{
    Editor editor(QSize(1000, 1000));
    editor.pick(Annotation::Kind::ellipse);
    drag(editor.canvas(), QPointF(240, 240), QPointF(-24, 528));
    ASSERT_EQ(editor.model->annotations().size(), 1);
    const QList<QPointF> points = editor.model->annotations().first().points;
    ASSERT_EQ(points.size(), 2);
    expectNear(points[0], QPointF(500, 500));
    expectNear(points[1], QPointF(-50, 1100));
}

TEST(AnnotateCanvas, DrawsMarksAsTheJobDoesAndADragRepaintsOnlyTheDraft)
{
    Editor editor(QSize(1000, 1000));
    editor.view.show();
    QApplication::processEvents();
    drag(editor.canvas(), QPointF(96, 96), QPointF(384, 384));
    QApplication::processEvents();
    const QImage shown = editor.canvas()->grab().toImage();
    const QColor onLine = shown.pixelColor(240, 240);
    EXPECT_GT(onLine.red(), 200);
    EXPECT_LT(onLine.green(), 120);
    EXPECT_EQ(shown.pixelColor(30, 450), QColor(Qt::white));

    // A short stroke in one corner leaves the rest of the canvas unpainted.
    editor.canvas()->takePaintedBounds();
    editor.pick(Annotation::Kind::pen);
    mouse(editor.canvas(), QEvent::MouseButtonPress, QPointF(400, 40));
    for (int i = 1; i <= 5; ++i) {
        mouse(editor.canvas(), QEvent::MouseMove, QPointF(400 + 4 * i, 40 + 2 * i));
        QApplication::processEvents();
    }
    const QRect painted = editor.canvas()->takePaintedBounds();
    EXPECT_FALSE(painted.isEmpty());
    EXPECT_LT(painted.width() * painted.height(), 480 * 480 / 10);
    EXPECT_TRUE(painted.contains(QPoint(410, 45)));
    mouse(editor.canvas(), QEvent::MouseButtonRelease, QPointF(420, 50));
    EXPECT_EQ(editor.model->annotations().size(), 2);
}

TEST(AnnotateView, ATextClickWhileTextIsPendingCommitsItAndMovesTheField)
{
    Editor editor(QSize(1000, 1000));
    editor.view.show();
    editor.pick(Annotation::Kind::text);
    QLineEdit* field = editor.view.textField();
    EXPECT_FALSE(field->isVisible());

    click(editor.canvas(), QPointF(48, 48));
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Text"));
    EXPECT_EQ(field->width(), 220);
    EXPECT_EQ(field->pos(), editor.canvas()->pos() + QPoint(48, 48));
    EXPECT_EQ(editor.view.focusWidget(), field);
    EXPECT_TRUE(editor.model->annotations().isEmpty());
    EXPECT_FALSE(editor.view.buttons()->isActionEnabled());

    type(field, QStringLiteral("Hi"));
    EXPECT_EQ(editor.model->textInput(), QStringLiteral("Hi"));
    EXPECT_TRUE(editor.view.buttons()->isActionEnabled()); // the text shows, so it can be saved

    // Near the right edge the field stays inside the picture.
    click(editor.canvas(), QPointF(432, 240));
    ASSERT_EQ(editor.model->annotations().size(), 1);
    const Annotation& first = editor.model->annotations().first();
    EXPECT_EQ(first.text, QStringLiteral("Hi"));
    expectNear(first.points.first(), QPointF(100, 100));
    ASSERT_TRUE(editor.model->textPoint());
    expectNear(*editor.model->textPoint(), QPointF(900, 500));
    EXPECT_TRUE(field->isVisible());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(field->pos(), editor.canvas()->pos() + QPoint(480 - 220, 240));
}

TEST(AnnotateView, OnANarrowPictureTheTextFieldReachesPastItsLeftEdge)
{
    Editor editor(QSize(100, 1000));
    editor.view.show();
    ASSERT_EQ(editor.canvas()->width(), 48);
    editor.pick(Annotation::Kind::text);
    click(editor.canvas(), QPointF(24, 96));
    QLineEdit* field = editor.view.textField();
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->pos(), editor.canvas()->pos() + QPoint(48 - 220, 96));
    EXPECT_GE(field->x(), 0); // still whole inside the window
    expectNear(*editor.model->textPoint(), QPointF(50, 200));
}

TEST(AnnotateView, ReturnInTheTextFieldPlacesTheTextAndNeverSaves)
{
    Editor editor(QSize(1000, 1000));
    editor.view.show();
    editor.pick(Annotation::Kind::text);
    click(editor.canvas(), QPointF(100, 100));
    QLineEdit* field = editor.view.textField();

    QKeyEvent returnKey(QEvent::ShortcutOverride, Qt::Key_Return, Qt::NoModifier);
    returnKey.ignore();
    QApplication::sendEvent(field, &returnKey);
    EXPECT_TRUE(returnKey.isAccepted());

    type(field, QStringLiteral("Note"));
    key(field, Qt::Key_Return);
    EXPECT_EQ(editor.model->annotations().size(), 1);
    EXPECT_FALSE(editor.model->textPoint());
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(editor.applies, 0);
}

TEST(AnnotateView, ToolbarNamesItsToolsAndColoursAndUndoNeedsAMark)
{
    Editor editor(QSize(1000, 1000));
    SegmentedPicker* tools = editor.view.toolPicker();
    EXPECT_EQ(tools->width(), 270);
    QStringList help;
    for (int i = 0; i < 6; ++i)
        help.append(tools->button(i)->toolTip());
    EXPECT_EQ(help, (QStringList{"Arrow", "Rectangle", "Ellipse", "Pen", "Highlight", "Text"}));
    EXPECT_TRUE(tools->button(0)->isChecked());
    tools->button(3)->click();
    EXPECT_EQ(editor.model->tool(), Annotation::Kind::pen);

    ASSERT_EQ(editor.view.swatches().size(), 8);
    AnnotateSwatch* blue = editor.view.swatches()[4];
    EXPECT_EQ(blue->size(), QSize(18, 18));
    EXPECT_EQ(blue->accessibleName(), QStringLiteral("Color #007AFF"));
    EXPECT_EQ(blue->toolTip(), QStringLiteral("Color #007AFF"));
    EXPECT_TRUE(editor.view.swatches()[0]->isSelected());
    blue->click();
    EXPECT_EQ(editor.model->colorHex(), QStringLiteral("#007AFF"));
    EXPECT_TRUE(blue->isSelected());
    EXPECT_FALSE(editor.view.swatches()[0]->isSelected());

    QPushButton* undo = editor.view.undoButton();
    EXPECT_EQ(undo->toolTip(), QStringLiteral("Undo"));
    QStringList keys;
    for (const QShortcut* shortcut : editor.view.findChildren<QShortcut*>())
        keys.append(shortcut->key().toString());
    EXPECT_TRUE(keys.contains("Ctrl+Z"));
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(editor.view.buttons()->isActionEnabled());
    click(editor.canvas(), QPointF(10, 10));
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_TRUE(editor.view.buttons()->isActionEnabled());
    undo->click();
    EXPECT_TRUE(editor.model->annotations().isEmpty());
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(editor.view.buttons()->isActionEnabled());
}

TEST(AnnotateEditor, AHugePictureIsShrunkOnLoadAndNeverHeldWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.jpg");
    ASSERT_EQ(QProcess::execute("vips", {"black", path, "20000", "20000", "--bands", "3"}), 0);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.name = "huge.jpg";
    const AnnotateEditor::Picture picture = AnnotateEditor::load(file);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(picture.pixelSize, QSize(20000, 20000));
    EXPECT_LE(std::max(picture.preview.width(), picture.preview.height()), AnnotateEditor::displaySide);
    EXPECT_GE(picture.preview.width(), 1000);
    // A whole decode would need 1.2 GB.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 300 * 1024);
}

TEST(AnnotateEditor, ATurnedPhotoIsShownAndMeasuredUpright)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.jpg");
    QImage stored(400, 200, QImage::Format_RGB32);
    stored.fill(Qt::white);
    ASSERT_TRUE(stored.save(path, "JPEG"));
    ASSERT_EQ(QProcess::execute("exiv2", {"-q", "-M", "set Exif.Image.Orientation 6", "mo", path}), 0);
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.name = "turned.jpg";
    const AnnotateEditor::Picture picture = AnnotateEditor::load(file);
    EXPECT_EQ(picture.pixelSize, QSize(200, 400));
    EXPECT_EQ(picture.preview.size(), QSize(200, 400));
}
