#include "ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <ctime>
#include <sstream>

#include "core/log.h"
#include "core/settings.h"
#include "gateway/engine.h"
#include "jobs/job_table.h"
#include "platform/profile_dir.h"
#include "sms/signal_thread.h"

namespace gsms::test {

namespace {

void resetEngineTables() {
    resetLogQueueForTest();
    resetJobTableForTest();
    resetSettingsForTest();
    signalQuality().store(0);
    setEngineStageForTest(EngineStage::NotStarted);
}

}  // namespace

TempProfile::TempProfile() {
    setProfileDir(dir_.path());
    resetEngineTables();
}

TempProfile::~TempProfile() {
    resetEngineTables();
    setProfileDir("");
}

void TempProfile::write(const std::string& name, const std::string& text) const {
    writeFile(file(name), text);
}

std::string TempProfile::read(const std::string& name) const { return readFile(file(name)); }

std::vector<std::string> TempProfile::logLines() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::istringstream in(readFile(file(dailyLogPath(local))));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line.size() > 9 ? line.substr(9) : line);
    return lines;
}

QStringList textsThatDoNotFit(QWidget* dialog) {
    QStringList cut;
    auto check = [&cut](QWidget* w, const QString& text, QSize need, QSize has) {
        if (need.width() > has.width() || need.height() > has.height())
            cut << QStringLiteral("%1: %2 (needs %3 x %4, has %5 x %6)")
                       .arg(w->objectName(), text)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(has.width())
                       .arg(has.height());
    };
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        const QFontMetrics fm(w->font());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || !label->pixmap().isNull()) continue;
            const QRect room = label->contentsRect();
            const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
            const QRect need = fm.boundingRect(QRect(0, 0, room.width(), 10000),
                                               flags | int(label->alignment()), label->text());
            check(w, label->text(), need.size(), room.size());
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            // The indicator may take the margins of its own: only the text's height counts.
            check(w, box->text(), QSize(box->sizeHint().width(), fm.height()), box->size());
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            QString text = button->text();
            text.remove(u'&');
            const int frame = w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
                              w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
            check(w, text, QSize(fm.horizontalAdvance(text) + 2 * frame, fm.height()),
                  button->size());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            check(w, group->title(), QSize(fm.horizontalAdvance(group->title()), fm.height()),
                  group->size());
        }
    }
    return cut;
}

BoxWatcher::BoxWatcher(QMessageBox::StandardButton answer) : answer_(answer) {
    connect(&timer_, &QTimer::timeout, this, &BoxWatcher::poll);
    timer_.start(10);
}

void BoxWatcher::poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->isVisible() || answered_.contains(box)) continue;
        answered_.push_back(box);
        seen_.push_back({box->windowTitle(), box->text(), box->icon()});
        if (onBox_) onBox_();
        QAbstractButton* button = box->button(answer_);
        if (button == nullptr) button = box->defaultButton();
        if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().first();
        if (button != nullptr) button->click();
    }
}

}  // namespace gsms::test
