#include "DriverKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

// Qt's own: offers a key to the window's shortcuts first, as the platform's key events are.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text = QString(), bool autorep = false,
                                               ushort count = 1);

namespace qv::dev {

namespace {

void send(QWidget* widget, bool press, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text);
    if (press && qt_sendShortcutOverrideEvent(widget, event.timestamp(), key, modifiers, text))
        return;
    QApplication::instance()->notify(widget, &event);
}

// What the key types: a printable key's character, in lower case unless Shift is held.
QString typed(int key, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return {};
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return QStringLiteral("\r");
    if (key == Qt::Key_Tab)
        return QStringLiteral("\t");
    if (key == Qt::Key_Backspace)
        return QStringLiteral("\b");
    if (key < Qt::Key_Space || key > Qt::Key_ydiaeresis)
        return {};
    const QChar c(key);
    return QString(modifiers & Qt::ShiftModifier ? c.toUpper() : c.toLower());
}

void click(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    const QPointer<QWidget> guard(widget);
    const std::pair<Qt::KeyboardModifier, Qt::Key> keys[] = {{Qt::ShiftModifier, Qt::Key_Shift},
                                                             {Qt::ControlModifier, Qt::Key_Control},
                                                             {Qt::AltModifier, Qt::Key_Alt},
                                                             {Qt::MetaModifier, Qt::Key_Meta}};
    Qt::KeyboardModifiers held;
    for (const auto& [modifier, modifierKey] : keys) {
        if (guard && (modifiers & modifier)) {
            send(widget, true, modifierKey, held, QString());
            held |= modifier;
        }
    }
    if (guard)
        send(widget, true, key, modifiers, text);
    if (guard)
        send(widget, false, key, modifiers, text);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) {
        if (guard && (modifiers & it->first)) {
            held &= ~it->first;
            send(widget, false, it->second, held, QString());
        }
    }
}

} // namespace

void keyClick(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    click(widget, key, modifiers, typed(key, modifiers));
}

void keyClicks(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        const bool upper = c.isUpper();
        const int key = c.toUpper().unicode();
        click(widget, key, upper ? Qt::ShiftModifier : Qt::NoModifier, QString(c));
    }
}

} // namespace qv::dev
