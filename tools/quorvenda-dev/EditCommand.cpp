#include "Commands.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "JobJson.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "PngFile.h"

#include "catalogue/ToolRegistry.h"
#include "editors/EditorActivity.h"
#include "editors/EditorLauncher.h"
#include "editors/EditorTargets.h"
#include "editors/media/TrimEditor.h"
#include "jobs/Job.h"
#include "jobs/JobCenter.h"
#include "jobs/Toasts.h"
#include "jobs/WorkerPool.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/ui/EditorButtons.h"
#include "platform/ui/EditorWindow.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QPointer>
#include <QScreen>
#include <QSpinBox>
#include "DriverKeys.h"
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace qv::dev {

namespace {

// How long the editor's work may take to settle after opening or after an action. Its questions
// end by themselves, bounded by their workers' processor time, which a machine busy with other
// work stretches; this only keeps a fault from holding the driver for ever.
constexpr qint64 settleLimitMs = 600000;

int usage(const QString& problem)
{
    QTextStream err(stderr);
    if (!problem.isEmpty())
        err << problem << '\n';
    err << "usage: quorvenda-dev edit OPERATION-ID FILE [--at X,Y] [--do ACTIONS] [--screenshot OUT.png] "
           "[--no-run] [--unplayable]\n";
    return 2;
}

// An action the driver cannot do; named on standard error, exit 2.
struct Impossible {
    QString what;
};

struct ToastLog : ToastPresenter {
    QStringList texts;
    void show(const Toast& toast) override { texts.append(toast.text); }
};

// Watches the GUI thread for blocks while it runs.
class StallMeter : public QObject {
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 gap = m_clock.restart();
            m_longest = std::max(m_longest, gap - 5);
        });
    }
    void start()
    {
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    qint64 longest() const { return std::max<qint64>(m_longest, 0); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

EditorWindow* openWindow(const QList<EditorWindow*>& before)
{
    for (EditorWindow* window : openEditorWindows())
        if (!before.contains(window) && window->isVisible())
            return window;
    return nullptr;
}

// Waits until no editor work runs, then lets the resulting repaints through.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (EditorActivity::count() > 0 && clock.elapsed() < settleLimitMs)
        spin(10);
    spin(100);
}

QString plain(QString text)
{
    return text.remove(QLatin1Char('&'));
}

QWidget* widgetNamed(QWidget* root, const QString& name)
{
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            if (plain(button->text()) == name || button->toolTip() == name || button->accessibleName() == name)
                return button;
        } else if (widget->accessibleName() == name || widget->toolTip() == name) {
            return widget;
        }
    }
    return nullptr;
}

struct Spot {
    QPointer<QWidget> widget;
    QPointF local;
    QString target; // the named target, when the point is one
};

// A point: a target name, [TARGET, fx, fy] as fractions of its rectangle, or [x, y] in the window.
Spot resolve(EditorWindow* window, const QJsonValue& value)
{
    QString name;
    std::optional<QPointF> fraction;
    if (value.isString()) {
        name = value.toString();
    } else if (value.isArray() && value.toArray().size() == 3 && value.toArray()[0].isString()) {
        const QJsonArray array = value.toArray();
        name = array[0].toString();
        fraction = QPointF(array[1].toDouble(), array[2].toDouble());
    } else if (value.isArray() && value.toArray().size() == 2) {
        const QPointF point(value.toArray()[0].toDouble(), value.toArray()[1].toDouble());
        QWidget* under = window->childAt(point.toPoint());
        if (!under)
            under = window;
        return {under, under->mapFrom(window, point), {}};
    } else {
        throw Impossible{QStringLiteral("Not a point: ") + QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact))};
    }
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        auto* targets = dynamic_cast<EditorTargets*>(widget);
        if (!targets || !widget->isVisible())
            continue;
        if (const std::optional<QRectF> rect = targets->targetRect(name)) {
            const QPointF f = fraction.value_or(QPointF(0.5, 0.5));
            return {widget, QPointF(rect->x() + rect->width() * f.x(), rect->y() + rect->height() * f.y()), name};
        }
    }
    if (QWidget* widget = widgetNamed(window, name)) {
        const QPointF f = fraction.value_or(QPointF(0.5, 0.5));
        return {widget, QPointF(widget->width() * f.x(), widget->height() * f.y()), {}};
    }
    throw Impossible{QStringLiteral("No target named ") + name};
}

void sendMouse(QWidget* widget, QEvent::Type type, QPointF local, Qt::MouseButtons buttons)
{
    const QPointF global = widget->mapToGlobal(local);
    const QPointF scene = widget->window()->mapFromGlobal(global);
    QMouseEvent event(type, local, scene, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(const Spot& spot)
{
    sendMouse(spot.widget, QEvent::MouseButtonPress, spot.local, Qt::LeftButton);
    if (spot.widget)
        sendMouse(spot.widget, QEvent::MouseButtonRelease, spot.local, Qt::NoButton);
}

void drag(EditorWindow* window, const QJsonValue& from, const QJsonValue& to)
{
    const Spot start = resolve(window, from);
    const Spot end = resolve(window, to);
    auto* targets = dynamic_cast<EditorTargets*>(start.widget.data());
    const QPointF offset = targets && !start.target.isEmpty() ? targets->dragOffset(start.target) : QPointF();
    // Moves go to the pressed widget, as the pointer's implicit grab does.
    const QPointF endLocal = start.widget->mapFromGlobal(end.widget->mapToGlobal(end.local)) + offset;
    QWidget* widget = start.widget;
    sendMouse(widget, QEvent::MouseButtonPress, start.local, Qt::LeftButton);
    constexpr int steps = 8;
    for (int i = 1; i <= steps && widget; ++i) {
        const QPointF point = start.local + (endLocal - start.local) * (double(i) / steps);
        sendMouse(widget, QEvent::MouseMove, point, Qt::LeftButton);
        QApplication::processEvents();
    }
    if (widget)
        sendMouse(widget, QEvent::MouseButtonRelease, endLocal, Qt::NoButton);
}

void setField(EditorWindow* window, const QString& label, const QJsonValue& value)
{
    QWidget* widget = widgetNamed(window, label);
    if (!widget) {
        // A label beside the field names it.
        for (QLabel* text : window->findChildren<QLabel*>())
            if (text->isVisible() && plain(text->text()) == label && text->buddy())
                widget = text->buddy();
    }
    if (!widget)
        throw Impossible{QStringLiteral("No field labelled ") + label};
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        spin->setValue(value.isString() ? value.toString().toInt() : value.toInt());
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(widget)) {
        spin->setValue(value.isString() ? value.toString().toDouble() : value.toDouble());
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
        slider->setValue(value.toInt());
    } else if (auto* check = qobject_cast<QAbstractButton*>(widget); check && check->isCheckable()) {
        if (check->isChecked() != value.toBool())
            click({check, QPointF(check->width() / 2.0, check->height() / 2.0), {}});
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        const int index = combo->findText(value.toString());
        if (index < 0)
            throw Impossible{QStringLiteral("No item ") + value.toString() + QStringLiteral(" in ") + label};
        combo->setCurrentIndex(index);
        QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, index));
    } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        field->setFocus();
        field->selectAll();
        dev::keyClicks(field, value.isString() ? value.toString() : QString::number(value.toDouble()));
        dev::keyClick(field, Qt::Key_Return);
    } else {
        throw Impossible{label + QStringLiteral(" cannot be set")};
    }
}

void pressKey(EditorWindow* window, const QString& name)
{
    const QKeySequence sequence = QKeySequence::fromString(name);
    if (sequence.isEmpty())
        throw Impossible{QStringLiteral("Unknown key ") + name};
    QApplication::setActiveWindow(window);
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    const QKeyCombination combination = sequence[0];
    dev::keyClick(target, combination.key(), combination.keyboardModifiers());
}

struct Snapshot {
    QStringList texts;
    QStringList disabled;
    std::optional<QSizeF> picture; // the size of the "picture" target, as shown
};

Snapshot snapshotOf(EditorWindow* window)
{
    Snapshot snapshot;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        if (auto* targets = dynamic_cast<EditorTargets*>(widget); targets && !snapshot.picture) {
            if (const std::optional<QRectF> rect = targets->targetRect(QStringLiteral("picture")))
                snapshot.picture = rect->size();
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = plain(button->text());
        else if (auto* combo = qobject_cast<QComboBox*>(widget))
            text = combo->currentText();
        else if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget))
            text = spin->text();
        else if (auto* field = qobject_cast<QLineEdit*>(widget); field && !qobject_cast<QAbstractSpinBox*>(widget->parent()))
            text = field->text();
        if (text.isEmpty())
            continue;
        snapshot.texts.append(text);
        if (!widget->isEnabled())
            snapshot.disabled.append(text);
    }
    return snapshot;
}

} // namespace

int edit(const QStringList& args)
{
    QStringList rest = args;
    QString id;
    QString path;
    std::optional<QPointF> at;
    QJsonArray actions;
    QString screenshot;
    bool noRun = false;
    bool unplayable = false;
    while (!rest.isEmpty()) {
        const QString arg = rest.takeFirst();
        if (arg == QLatin1String("--at") && !rest.isEmpty()) {
            const QStringList xy = rest.takeFirst().split(QLatin1Char(','));
            bool okX = false, okY = false;
            if (xy.size() == 2)
                at = QPointF(xy[0].toDouble(&okX), xy[1].toDouble(&okY));
            if (!okX || !okY)
                return usage(QStringLiteral("--at wants X,Y"));
        } else if (arg == QLatin1String("--do") && !rest.isEmpty()) {
            const QJsonDocument document = QJsonDocument::fromJson(rest.takeFirst().toUtf8());
            if (!document.isArray())
                return usage(QStringLiteral("--do wants a JSON list of actions"));
            actions = document.array();
        } else if (arg == QLatin1String("--screenshot") && !rest.isEmpty()) {
            screenshot = rest.takeFirst();
        } else if (arg == QLatin1String("--no-run")) {
            noRun = true;
        } else if (arg == QLatin1String("--unplayable")) {
            unplayable = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("Unknown option ") + arg);
        } else if (id.isEmpty()) {
            id = arg;
        } else if (path.isEmpty()) {
            path = arg;
        } else {
            return usage(QStringLiteral("One file only"));
        }
    }
    if (id.isEmpty() || path.isEmpty())
        return usage({});

    registerDefaultSettings();
    {
        JobCenter::Services services;
        services.clipboard = &Clipboard::system();
        services.workspace = &Workspace::system();
        services.workers = useWorkers() ? &catalogueWorkers() : nullptr;
        JobCenter::shared().setServices(services);
        // Warm workers wait for the editor's reading, as those the application starts at launch do.
        if (useWorkers()) {
            catalogueWorkers().warmUp();
            QElapsedTimer warming;
            warming.start();
            while (catalogueWorkers().startedCount() < 2 && warming.elapsed() < 10000)
                spin(5);
        }
    }
    const QList<OperationDescriptor>& catalogue = ToolRegistry::shared().catalogue();
    const auto it = std::find_if(catalogue.begin(), catalogue.end(),
                                 [&](const OperationDescriptor& d) { return d.id == id; });
    if (it == catalogue.end())
        return usage(QStringLiteral("Unknown operation: ") + id);
    if (it->behavior.kind != OperationBehavior::Kind::editor || !it->behavior.editor)
        return usage(id + QStringLiteral(" opens no editor"));
    const WheelEntry entry = WheelEntry::forOperation(*it, it->wheel);
    const FileInfo file = fileInfoForURL(fileUrl(path));
    if (!at) {
        QScreen* screen = QGuiApplication::primaryScreen();
        at = screen ? QPointF(screen->geometry().center().x(), screen->geometry().height() / 2.0) : QPointF();
    }

    ToastLog toasts;
    setToastPresenter(&toasts);
    std::optional<OperationOptions> submitted;
    JobPtr job;
    setEditorSubmissionObserver([&](const OperationOptions& options, const JobPtr& made) {
        submitted = options;
        job = made;
    });
    TrimEditor::setAssumeUnplayable(unplayable);

    StallMeter stalls;
    QElapsedTimer clock;
    const QList<EditorWindow*> before = openEditorWindows();
    stalls.start();
    clock.start();
    openEditor(*it->behavior.editor, entry, {file}, *at);

    // The opening ends in a window or, when the file cannot be read, in nothing.
    QPointer<EditorWindow> window;
    std::optional<qint64> openMs;
    while (clock.elapsed() < 2 * settleLimitMs) {
        if (EditorWindow* shown = openWindow(before)) {
            window = shown;
            openMs = clock.elapsed();
            break;
        }
        if (EditorActivity::count() == 0 && clock.elapsed() > 50)
            break;
        spin(2);
    }
    std::optional<qint64> idleMs;
    if (window) {
        settle();
        idleMs = clock.elapsed();
    }
    stalls.stop();

    QJsonObject result;
    result.insert(QStringLiteral("opened"), bool(window));
    result.insert(QStringLiteral("title"), window ? QJsonValue(window->windowTitle()) : QJsonValue());
    result.insert(QStringLiteral("size"),
                  window ? QJsonValue(QJsonArray{window->width(), window->height()}) : QJsonValue());
    std::optional<Snapshot> snapshot;
    int exitCode = window ? 0 : 1;
    // How long the user's actions held the GUI thread, each move of a slider included; the
    // driver's own snapshot is left out.
    StallMeter actionStalls;
    const auto takeSnapshot = [&] {
        if (snapshot || !window)
            return;
        actionStalls.stop();
        snapshot = snapshotOf(window);
        if (!screenshot.isEmpty() && !writePng(window->grab().toImage(), screenshot))
            exitCode = 1;
        actionStalls.start();
    };
    actionStalls.start();

    try {
        for (const QJsonValue& value : std::as_const(actions)) {
            const QJsonArray action = value.toArray();
            const QString verb = action.isEmpty() ? QString() : action[0].toString();
            if (!window)
                throw Impossible{QStringLiteral("No editor open for ") + verb};
            settle();
            if (verb == QLatin1String("apply") || verb == QLatin1String("cancel") || verb == QLatin1String("close"))
                takeSnapshot();
            if (verb == QLatin1String("click") && action.size() == 2) {
                click(resolve(window, action[1]));
            } else if (verb == QLatin1String("set") && action.size() == 3) {
                setField(window, action[1].toString(), action[2]);
            } else if ((verb == QLatin1String("press") || verb == QLatin1String("release")) && action.size() == 2) {
                // A button held down, such as Compare, until its release.
                const Spot spot = resolve(window, action[1]);
                sendMouse(spot.widget, verb == QLatin1String("press") ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease,
                          spot.local, verb == QLatin1String("press") ? Qt::LeftButton : Qt::NoButton);
            } else if (verb == QLatin1String("drag") && action.size() == 3) {
                drag(window, action[1], action[2]);
            } else if (verb == QLatin1String("key") && action.size() == 2) {
                pressKey(window, action[1].toString());
            } else if (verb == QLatin1String("type") && action.size() == 2) {
                QApplication::setActiveWindow(window);
                dev::keyClicks(window->focusWidget() ? window->focusWidget() : window.data(), action[1].toString());
            } else if (verb == QLatin1String("wait") && action.size() == 2) {
                spin(qBound(0, action[1].toInt(), 600000));
            } else if (verb == QLatin1String("screenshot") && action.size() == 2) {
                if (!writePng(window->grab().toImage(), action[1].toString()))
                    exitCode = 1;
            } else if (verb == QLatin1String("apply") || verb == QLatin1String("cancel")) {
                EditorButtons* buttons = window->findChild<EditorButtons*>();
                if (!buttons)
                    throw Impossible{QStringLiteral("No buttons to ") + verb};
                QAbstractButton* button = verb == QLatin1String("apply") ? buttons->actionButton() : buttons->cancelButton();
                click({button, QPointF(button->width() / 2.0, button->height() / 2.0), {}});
            } else if (verb == QLatin1String("close")) {
                window->close();
            } else {
                throw Impossible{QStringLiteral("Unknown action ") + QString::fromUtf8(QJsonDocument(action).toJson(QJsonDocument::Compact))};
            }
            QApplication::processEvents();
        }
        if (window)
            settle();
        takeSnapshot();
        actionStalls.stop();
    } catch (const Impossible& impossible) {
        QTextStream(stderr) << impossible.what << '\n';
        exitCode = 2;
    }

    const bool stillOpen = window && window->isVisible();
    if (stillOpen)
        window->close();
    spin(20);

    result.insert(QStringLiteral("texts"), snapshot ? QJsonArray::fromStringList(snapshot->texts) : QJsonArray());
    result.insert(QStringLiteral("disabled"),
                  snapshot ? QJsonArray::fromStringList(snapshot->disabled) : QJsonArray());
    result.insert(QStringLiteral("picture"), snapshot && snapshot->picture
                                                 ? QJsonValue(QJsonArray{snapshot->picture->width(), snapshot->picture->height()})
                                                 : QJsonValue());
    result.insert(QStringLiteral("toasts"), QJsonArray::fromStringList(toasts.texts));
    result.insert(QStringLiteral("stillOpen"), stillOpen);
    QJsonValue submittedJson;
    if (submitted) {
        if (const std::optional<QByteArray> encoded = encodeOperationOptions(*submitted))
            submittedJson = QJsonDocument::fromJson(*encoded).object();
    }
    result.insert(QStringLiteral("submitted"), submittedJson);

    JobCenter& center = JobCenter::shared();
    if (job && noRun)
        center.cancel(job);
    if (job && !noRun) {
        QEventLoop loop;
        QObject::connect(&center, &JobCenter::jobEnded, &loop, [&](const JobPtr& ended) {
            if (ended == job)
                loop.quit();
        });
        if (job->isActive())
            loop.exec();
        result.insert(QStringLiteral("job"), jobJson(job));
        if (exitCode == 0 && job->state() != Job::State::finished)
            exitCode = 1;
    } else {
        result.insert(QStringLiteral("job"), QJsonValue());
    }
    result.insert(QStringLiteral("openMs"), openMs ? QJsonValue(double(*openMs)) : QJsonValue());
    result.insert(QStringLiteral("idleMs"), idleMs ? QJsonValue(double(*idleMs)) : QJsonValue());
    result.insert(QStringLiteral("maxStallMs"), double(stalls.longest()));
    result.insert(QStringLiteral("actionMaxStallMs"), double(actionStalls.longest()));
    const bool engineStopped = center.shutdown(std::chrono::milliseconds(3000));
    setEditorSubmissionObserver({});
    setToastPresenter(nullptr);
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
    if (!engineStopped) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

} // namespace qv::dev
