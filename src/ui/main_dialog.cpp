#include "ui/main_dialog.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

#include "engine/engine.h"
#include "engine/front_end.h"
#include "engine/log.h"
#include "engine/profile_file.h"
#include "jobs/job_table.h"
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
constexpr int kLowSignal = 12;

// Test and diagnostics hook: with GSMS_WINDOW_TRACE=file in the environment, what the window
// shows per notification is appended to that file, one line each, so that a whole-program test
// can follow the window from outside: "slot N state S text" (N the job slot, 0..29),
// "log RRGGBB text" and "signal Q". Without the variable nothing is written.
void traceShown(const QString& line) {
    static const QString path = qEnvironmentVariable("GSMS_WINDOW_TRACE");
    if (path.isEmpty()) return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + QLatin1Char('\n')).toLatin1());  // one write: no torn lines
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

    gauge_ = new CShapedGauge;
    const QPoint corner = ui_->id1061->geometry().topLeft();
    if (!gauge_->create(this, corner.x(), corner.y(), signalBarShape(), 0)) {
        delete gauge_;
        gauge_ = nullptr;
    } else {
        gauge_->setBarStyle(CShapedGauge::kGradientUp);
        gauge_->setColours(kColorRed, kColorGreen);
        gauge_->setRange(0, 31);
        gauge_->setValue(29);
    }

    connect(ui_->id1100, &QPushButton::clicked, this, [this] { CAboutDialog(this).exec(); });
    connect(ui_->id1102, &QPushButton::clicked, this, [this] { runSendSmsDialog(this); });
    connect(ui_->id1103, &QPushButton::clicked, this, [this] { runSettingsDialog(this); });
    connect(ui_->id1104, &QPushButton::clicked, this, [this] { runChangeSmscDialog(this); });
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

    startupTimer_.setInterval(kStartupTickMs);
    connect(&startupTimer_, &QTimer::timeout, this, &CMainDialog::onStartupTick);
    startupTimer_.start();
}

CMainDialog::~CMainDialog() {
    setNotifier(nullptr);
    delete gauge_;
    delete ui_;
}

CLogListBox* CMainDialog::logList() const { return ui_->id1101; }

void CMainDialog::buildSystemMenu() {
    // The window manager's own menu is out of reach: this one opens with Alt+Space or a
    // right click on the window, and carries the About command like the old one did.
    systemMenu_ = new QMenu(this);
    systemMenu_->addAction(QStringLiteral("Mi&nimize"), this, &QWidget::showMinimized);
    systemMenu_->addAction(QStringLiteral("&Close\tAlt+F4"), this, &QDialog::reject);
    const QString about = QString::fromLatin1(kAboutMenuText);
    if (!about.isEmpty()) {
        systemMenu_->addSeparator();
        QAction* action = systemMenu_->addAction(about);
        connect(action, &QAction::triggered, this, [this] { onSysCommand(kAboutCommand); });
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
    if ((command & 0xFFF0) == kAboutCommand) CAboutDialog(this).exec();
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
}

void CMainDialog::onNotification(int code) {
    if (code == kNotifyLogLine) {
        CLogListBox* list = logList();
        while (list->count() > kMaxLogLines) delete list->takeItem(0);
        const auto line = takeLogLine();
        if (!line) return;
        list->addLine(QString::fromLatin1(line->text.c_str()), line->colour);
        traceShown(QStringLiteral("log %1 %2")
                       .arg(toQColor(line->colour).name().mid(1),
                            QString::fromLatin1(line->text.c_str())));
        list->scrollToItem(list->item(list->count() - 1), QAbstractItemView::PositionAtTop);
        return;
    }
    if (code == kNotifySignal) {
        const int quality = signalQuality().load();
        if (gauge_ != nullptr) gauge_->setValue(quality);
        ui_->id1064->setText(quality < kLowSignal ? QString::fromLatin1(kLowSignalText)
                                                  : QString());
        traceShown(QStringLiteral("signal %1").arg(quality));
        return;
    }
    if (code < 1 || code > kSlots) return;  // no slot: nothing to touch
    const int slot = code - 1;
    const JobSlotView view = jobSlotView(slot);
    const auto i = static_cast<std::size_t>(slot);
    // A state without a picture shows none.
    slotPictures_[i]->setPixmap(view.state >= 0 && view.state < kSlotStates
                                    ? pictures_[static_cast<std::size_t>(view.state)]
                                    : QPixmap());
    slotLabels_[i]->setText(QString::fromLatin1(view.text.c_str()));
    traceShown(QStringLiteral("slot %1 state %2 %3")
                   .arg(slot)
                   .arg(view.state)
                   .arg(QString::fromLatin1(view.text.c_str())));
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
