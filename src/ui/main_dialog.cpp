#include "ui/main_dialog.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

#include "core/log.h"
#include "core/profile_file.h"
#include "frontend/front_end.h"
#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/engine.h"
#include "gateway/operator_action.h"
#include "jobs/job_table.h"
#include "modem/modem_link.h"
#include "sms/signal_thread.h"
#include "ui/about_dialog.h"
#include "ui/change_smsc_dialog.h"
#include "ui/dialog_units.h"
#include "ui/log_list_box.h"
#include "ui/send_sms_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/shaped_gauge.h"
#include "ui_main_dialog.h"

namespace gsms {

namespace {

const char* const kAboutMenuText = "&About tevrak...";
constexpr int kStartupTickMs = 500;
constexpr int kCaptionLines = 2;

// What the window shows, for a test that follows it from outside (frontend/window_forms.h).
void traceShown(const QString& line) { windowTrace(line.toStdString()); }

bool mayAct(WindowButton button) {
    return buttonMayAct(button, engineStage(), runningOperatorAction());
}

}  // namespace

CMainDialog::CMainDialog(EngineStarter starter, QWidget* parent)
    : QDialog(parent), ui_(new Ui::CMainDialog),
      starter_(starter ? std::move(starter) : EngineStarter(startEngine)) {
    initUiResources();
    ui_->setupUi(this);
    applyDialogUnits(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui_->id1061->hide();
    for (int k = 0; k < kSlots; ++k) {
        const auto i = static_cast<std::size_t>(k);
        slotPictures_[i] = findChild<QLabel*>(QStringLiteral("id%1").arg(1000 + k));
        slotLabels_[i] = findChild<QLabel*>(QStringLiteral("id%1").arg(1030 + k));
    }

    buildSystemMenu();
    for (int s = 0; s < kSlotStates; ++s) pictures_[static_cast<std::size_t>(s)] = slotPicture(s);
    setWindowIcon(applicationIcon());

    gauge_ = makeGauge(ui_->id1061->geometry().topLeft());

    // Each button asks the rules again: a click that was on its way when the state changed
    // is dropped.
    connect(ui_->id1100, &QPushButton::clicked, this, [this] {
        if (mayAct(WindowButton::About)) CAboutDialog(this).exec();
    });
    connect(ui_->id1102, &QPushButton::clicked, this, &CMainDialog::runSendSms);
    connect(ui_->id1103, &QPushButton::clicked, this, [this] {
        if (mayAct(WindowButton::Settings)) runSettingsDialog(this);
    });
    connect(ui_->id1104, &QPushButton::clicked, this, &CMainDialog::runChangeSmsc);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);

    // The engine's threads must never wait for the window: each code becomes a queued call.
    // The guard outlives the window, so a late code finds it gone and does nothing.
    const QPointer<CMainDialog> self(this);
    setNotifier([self](int code) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, code] {
                if (self) self->onNotification(code);
            },
            Qt::QueuedConnection);
    });

    askSendWithTevrak();

    refreshState();
    startupTimer_.setInterval(kStartupTickMs);
    connect(&startupTimer_, &QTimer::timeout, this, &CMainDialog::onStartupTick);
    startupTimer_.start();
}

CMainDialog::~CMainDialog() {
    setNotifier(nullptr);
    if (waitCursor_) QApplication::restoreOverrideCursor();
    delete gauge_;
    delete gauge2_;
    delete ui_;
}

CShapedGauge* CMainDialog::makeGauge(QPoint corner) {
    auto* gauge = new CShapedGauge;
    if (!gauge->create(this, corner.x(), corner.y(), signalBarShape(), 0)) {
        delete gauge;
        return nullptr;
    }
    gauge->setBarStyle(CShapedGauge::kGradientUp);
    gauge->setColours(kColorRed, kColorGreen);
    gauge->setRange(0, 31);
    gauge->setValue(kGaugeOpeningValue);
    return gauge;
}

QLabel* CMainDialog::modemLine(int n) const {
    return n >= 1 && n <= 2 ? modemLines_[static_cast<std::size_t>(n - 1)] : nullptr;
}

void CMainDialog::layOutTwoModems() {
    twoModems_ = true;
    // In the template's dialog units: the log gives up the width of a gauge and the height
    // of two lines.
    const DialogUnits du(font());
    logList()->setGeometry(du.toPixels(QRect(7, 228, 354, 66)));
    if (gauge_ != nullptr) gauge_->move(du.toPixels(QRect(366, 228, 24, 59)).topLeft());
    gauge2_ = makeGauge(du.toPixels(QRect(394, 228, 24, 59)).topLeft());
    for (int n = 0; n < 2; ++n) {
        auto* number = new QLabel(QString::number(n + 1), this);
        number->setObjectName(QStringLiteral("gaugeNumber%1").arg(n + 1));
        number->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        number->setGeometry(du.toPixels(QRect(366 + 28 * n, 289, 24, 8)));
        number->show();
        auto* line = new QLabel(this);
        line->setObjectName(QStringLiteral("modemLine%1").arg(n + 1));
        line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        line->setGeometry(du.toPixels(QRect(7, 297 + 10 * n, 354, 8)));
        line->show();
        modemLines_[static_cast<std::size_t>(n)] = line;
    }
}

CLogListBox* CMainDialog::logList() const { return ui_->id1101; }

void CMainDialog::buildSystemMenu() {
    // The window manager's own menu is out of reach: this one opens with Alt+Space or a
    // right click on the window, and carries the About command like the old one did.
    systemMenu_ = new QMenu(this);
    systemMenu_->addAction(QStringLiteral("Mi&nimize"), this, &QWidget::showMinimized);
    closeAction_ = systemMenu_->addAction(QStringLiteral("&Close\tAlt+F4"), this,
                                          &QDialog::reject);
    const QString about = QString::fromLatin1(kAboutMenuText);
    if (!about.isEmpty()) {
        systemMenu_->addSeparator();
        aboutAction_ = systemMenu_->addAction(about);
        connect(aboutAction_, &QAction::triggered, this,
                [this] { onSysCommand(kAboutCommand); });
    }
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(shortcut, &QShortcut::activated, this,
            [this] { showSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

void CMainDialog::showSystemMenu(const QPoint& at) { systemMenu_->popup(at); }

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    showSystemMenu(event->globalPos());
}

void CMainDialog::onSysCommand(int command) {
    if ((command & 0xFFF0) == kAboutCommand && mayAct(WindowButton::About))
        CAboutDialog(this).exec();
}

void CMainDialog::reject() {
    if (mayAct(WindowButton::Exit)) QDialog::reject();
}

void CMainDialog::runSendSms() {
    if (!mayAct(WindowButton::SendSms)) return;
    (void)runSendSmsDialog(this);
    refreshState();  // busy at once, before any input waiting behind the dialog is handled
}

void CMainDialog::runChangeSmsc() {
    if (!mayAct(WindowButton::ChangeSmsc)) return;
    (void)runChangeSmscDialog(this);
    refreshState();
}

void CMainDialog::refreshState(bool reading) {
    const EngineStage stage = engineStage();
    const OperatorAction running = runningOperatorAction();
    ui_->id1100->setEnabled(buttonMayAct(WindowButton::About, stage, running));
    ui_->id1103->setEnabled(buttonMayAct(WindowButton::Settings, stage, running));
    ui_->id1102->setEnabled(buttonMayAct(WindowButton::SendSms, stage, running));
    ui_->id1104->setEnabled(buttonMayAct(WindowButton::ChangeSmsc, stage, running));
    ui_->id2->setEnabled(buttonMayAct(WindowButton::Exit, stage, running));
    closeAction_->setEnabled(buttonMayAct(WindowButton::Exit, stage, running));
    if (aboutAction_ != nullptr)
        aboutAction_->setEnabled(buttonMayAct(WindowButton::About, stage, running));

    if (!twoModems_ && modemCount() > 1) layOutTwoModems();
    const std::vector<ModemView> modems = modemViews();
    const QString status =
        QString::fromStdString(statusLineText(stage, running, shownQuality_, modems));
    if (status != statusText_) {
        statusText_ = status;
        ui_->id1064->setText(status);
        traceShown(QStringLiteral("status %1").arg(status));
    }
    const int value = gaugeValue(stage, shownQuality_);
    const bool moved = gauge_ != nullptr && gauge_->value() != value;
    if (gauge_ != nullptr) gauge_->setValue(value);
    if (moved || reading) traceShown(QStringLiteral("signal %1").arg(value));
    if (twoModems_ && modems.size() == 2) {
        if (gauge2_ != nullptr) gauge2_->setValue(gaugeValue(stage, modems[1].quality));
        for (std::size_t n = 0; n < 2; ++n) {
            const QString line = QString::fromStdString(modemViewText(modems[n]));
            if (line == modemTexts_[n]) continue;
            modemTexts_[n] = line;
            modemLines_[n]->setText(line);
            traceShown(QStringLiteral("path %1").arg(line));
        }
    }

    const bool busy = running != OperatorAction::None;
    if (busy && !waitCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!busy && waitCursor_) QApplication::restoreOverrideCursor();
    waitCursor_ = busy;
}

void CMainDialog::askSendWithTevrak() {
    const ProfileFile hestrum("hestrum.ini");
    if (hestrum.readInt("drobel", "SendWithTevrak", 0) != 0) return;
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Please confirm.."),
        QStringLiteral("Activate function to send SMS with this program for an alarm ?\n"
                       "(The flag SendWithTevrak in Hestrum.ini under [drobel] is set to 1)"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) (void)hestrum.writeString("drobel", "SendWithTevrak", "1");
}

void CMainDialog::onStartupTick() {
    if (!engineStartPending_) return;
    engineStartPending_ = false;
    startupTimer_.stop();
    (void)starter_();
    refreshState();
}

void CMainDialog::onNotification(int code) {
    if (code == kNotifyLogLine) {
        CLogListBox* list = logList();
        while (list->count() > kMaxLogLines) delete list->takeItem(0);
        const auto line = takeLogLine();
        if (!line) return;
        // Log lines are UTF-8, their outside text escaped (core/log.h).
        const QString text = QString::fromStdString(line->text);
        list->addLine(text, line->colour);
        traceShown(QStringLiteral("log %1 %2")
                       .arg(QString::fromStdString(traceColour(line->colour)), text));
        list->scrollToItem(list->item(list->count() - 1), QAbstractItemView::PositionAtTop);
        return;
    }
    if (code == kNotifySignal) {
        shownQuality_ = signalQuality().load();
        refreshState(true);
        return;
    }
    if (code == kNotifyEngineState) {
        refreshState();
        return;
    }
    if (code < 1 || code > kSlots) return;  // no slot: nothing to touch
    const int slot = code - 1;
    const JobSlotView view = jobSlotView(slot);
    const QString caption = QString::fromStdString(view.text);  // UTF-8, escaped
    showSlot(slot, view.state, caption);
    traceShown(QStringLiteral("slot %1 state %2 %3").arg(slot).arg(view.state).arg(caption));
}

void CMainDialog::showSlot(int slot, int state, const QString& caption) {
    const auto i = static_cast<std::size_t>(slot);
    // A state without a picture shows none.
    slotPictures_[i]->setPixmap(state >= 0 && state < kSlotStates
                                    ? pictures_[static_cast<std::size_t>(state)]
                                    : QPixmap());
    QLabel* label = slotLabels_[i];
    const QFontMetrics fm(label->font());
    const std::string shown = wrapCaption(
        caption.toStdString(), label->contentsRect().width(), kCaptionLines,
        [&fm](std::string_view text) {
            return fm.horizontalAdvance(
                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        });
    label->setText(QString::fromStdString(shown));
    label->setToolTip(caption);
}

void CMainDialog::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    // Where a minimised window is still drawn, it shows the icon in its middle.
    QPainter painter(this);
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.drawPixmap((width() - size + 1) / 2, (height() - size + 1) / 2,
                       windowIcon().pixmap(size, size));
}

}  // namespace gsms
