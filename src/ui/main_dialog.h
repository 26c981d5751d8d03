// CMainDialog: the operator's window for the whole life of the process. Thirty job slots
// (a telephone and a label each), the signal gauge, the coloured log, a status line and the
// four secondary dialogs. It starts the engine once, from the first tick of its start-up
// timer, and afterwards only reacts to the engine's notifications and to the buttons.
//
// The engine posts small codes from its own threads (0: a log line waits, 1..30: a slot's
// view changed, 99: the signal was read again, 100: the engine's stage or the operator's
// action changed); they arrive here as queued calls on the UI thread. Every handler runs on
// the UI thread. Which button may act, what the status line says and what the gauge shows
// follow the window's shared rules (frontend/window_rules.h). Send SMS and Change SMSC hand
// their modem work to the OperatorThread: meanwhile the window shows a wait cursor and
// "Sending…", keeps showing the engine's notifications, and no button acts.
//
// Once the engine has made a second modem link, the log list narrows for a second gauge
// beside the first (numbered 1 and 2 beneath) and shortens for one line per modem with its
// signal and state (frontend/window_rules.h, ModemView); code 99 refreshes them. With one
// modem the window is the template's.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <array>
#include <functional>

#include "ui/pictures.h"

namespace Ui {
class CMainDialog;
}
class QAction;
class QLabel;
class QMenu;

namespace gsms {

class CLogListBox;
class CShapedGauge;

class CMainDialog : public QDialog {
    Q_OBJECT
public:
    using EngineStarter = std::function<int()>;

    static constexpr int kAboutCommand = 0x0010;  // the command added to the system menu
    static constexpr int kMaxLogLines = 1000;     // the list holds at most one more
    static constexpr int kSlots = 30;             // the job slots on show

    // Builds the window; asks about "SendWithTevrak" when hestrum.ini does not have it set.
    // The starter is called once, on the first start-up tick (the engine's by default).
    explicit CMainDialog(EngineStarter starter = {}, QWidget* parent = nullptr);
    ~CMainDialog() override;

    // One engine notification.
    void onNotification(int code);
    // A system-menu command.
    void onSysCommand(int command);
    // The start-up timer's tick: starts the engine the first time, nothing after.
    void onStartupTick();

    // Closing (Exit, Esc, the window's close) does nothing while an operator action runs.
    void reject() override;

    CLogListBox* logList() const;
    CShapedGauge* gauge() const { return gauge_; }
    // The second modem's gauge, null until there are two modems.
    CShapedGauge* secondGauge() const { return gauge2_; }
    // The line naming modem `n` (1 or 2), null until there are two modems.
    QLabel* modemLine(int n) const;
    QMenu* systemMenu() const { return systemMenu_; }
    bool startupTimerActive() const { return startupTimer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildSystemMenu();
    void askSendWithTevrak();
    void showSystemMenu(const QPoint& at);
    // Buttons, status line, gauge and cursor as the engine stage, the operator's action and
    // the last signal reading call for; `reading`: a new reading came (it is traced even when
    // the gauge stays where it was).
    void refreshState(bool reading = false);
    void showSlot(int slot, int state, const QString& caption);
    // The second gauge and the modem lines, once.
    void layOutTwoModems();
    CShapedGauge* makeGauge(QPoint corner);
    void runSendSms();
    void runChangeSmsc();

    Ui::CMainDialog* ui_;
    std::array<QPixmap, kSlotStates> pictures_;  // by slot state
    std::array<QLabel*, kSlots> slotPictures_{};  // controls 1000..1029
    std::array<QLabel*, kSlots> slotLabels_{};    // controls 1030..1059
    CShapedGauge* gauge_ = nullptr;
    CShapedGauge* gauge2_ = nullptr;
    std::array<QLabel*, 2> modemLines_{};
    std::array<QString, 2> modemTexts_;
    bool twoModems_ = false;
    QMenu* systemMenu_ = nullptr;
    QAction* closeAction_ = nullptr;
    QAction* aboutAction_ = nullptr;  // none when the menu text is empty
    QTimer startupTimer_;
    bool engineStartPending_ = true;
    EngineStarter starter_;
    int shownQuality_ = -1;  // the last signal reading shown, -1 before the first
    bool waitCursor_ = false;
    QString statusText_;
};

}  // namespace gsms
