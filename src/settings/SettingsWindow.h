#pragma once

#include "model/settings/SettingsEnums.h"

#include <QWidget>

#include <array>

class QAction;
class QActionGroup;
class QStackedWidget;
class QToolBar;

namespace qv {

class SettingsStore;

// The window of the six tabs: a toolbar of exclusive tab buttons over the tabs' pages. Always
// 560 wide; as high as the tab on show asks, within 300 to 660, the rest scrolling. Switching
// cross-fades unless the desktop asks for less motion. Closing only hides it.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowWidth = 560;
    static constexpr int minimumContentHeight = 300;
    // The whole window inside its frame, tool bar included: with a title bar it still fits
    // a 1366 x 768 screen under a desktop's top bar. A taller tab scrolls.
    static constexpr int maximumWindowHeight = 680;

    explicit SettingsWindow(SettingsStore& store, QWidget* parent = nullptr);

    // Adds the next tab's page, in the order of SettingsTab.
    void addTab(SettingsTab tab, QWidget* page);
    void selectTab(SettingsTab tab);
    SettingsTab currentTab() const { return m_current; }
    QWidget* page(SettingsTab tab) const;
    QAction* tabAction(SettingsTab tab) const;
    QToolBar* toolBar() const { return m_toolBar; }

    // "General" for general.
    static QString label(SettingsTab tab);
    static QString symbol(SettingsTab tab);
    // The key the window's place is kept under: outside "quorvenda.", so a reset or an export
    // leaves it alone.
    static QString geometryKey();

Q_SIGNALS:
    void tabChanged(SettingsTab tab);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void fitToTab();
    void crossFade(QWidget* from);

    SettingsStore& m_store;
    QToolBar* m_toolBar;
    QActionGroup* m_group;
    QStackedWidget* m_stack;
    std::array<QWidget*, 6> m_pages{};
    std::array<QAction*, 6> m_actions{};
    SettingsTab m_current = SettingsTab::general;
};

} // namespace qv
