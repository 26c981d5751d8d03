// What the window tests share: a temporary profile directory (also the current directory,
// where the daily log goes) and a watcher that answers the message boxes the code under
// test opens, recording what they said.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace gsms::test {

// A fresh profile directory for one test: bare INI names resolve there and the daily log is
// written below it. The engine's shared tables are emptied on entry and on exit.
class TempProfile {
public:
    TempProfile();
    ~TempProfile();
    std::string file(const std::string& name) const { return dir_.path() + "/" + name; }
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;
    // Lines of today's daily log, without their time prefix.
    std::vector<std::string> logLines() const;

private:
    TempDir dir_;
};

struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Polls for visible message boxes and presses `answer` (or the box's default button) on
// each. Lives on the UI thread; works inside nested modal loops.
class BoxWatcher : public QObject {
    Q_OBJECT
public:
    explicit BoxWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok);
    void setAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    // Called while a box is open, before it is answered.
    void setOnBox(std::function<void()> hook) { onBox_ = std::move(hook); }
    const QVector<SeenBox>& seen() const { return seen_; }
    void clear() { seen_.clear(); }

private:
    void poll();
    QTimer timer_;
    QMessageBox::StandardButton answer_;
    std::function<void()> onBox_;
    QVector<SeenBox> seen_;
    QVector<QPointer<QMessageBox>> answered_;
};

// The texts of a dialog's labels, check boxes and buttons that do not fit their controls in
// the dialog's font, each as "name: text (needs W x H, has w x h)".
QStringList textsThatDoNotFit(QWidget* dialog);

// Runs fn once on the first modal dialog of type T that comes up, from the nested loop the
// dialog runs in. The poll stops by itself after fn has run or after a minute.
template <typename T, typename Fn>
void whenModal(Fn fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn, waited = 0]() mutable {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog == nullptr && (waited += 10) < 60000) return;
        timer->stop();
        timer->deleteLater();
        if (dialog != nullptr) fn(dialog);
    });
    timer->start(10);
}

}  // namespace gsms::test
