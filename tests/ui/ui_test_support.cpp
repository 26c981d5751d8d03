#include "ui_test_support.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <ctime>
#include <sstream>

#include "engine/log.h"
#include "engine/settings.h"
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
