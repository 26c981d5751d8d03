// The window's services for the rest of the program: the status table's error box, which
// holds the reporting thread until the operator has closed it, and the screenshot hook.
#include <signal.h>

#include <QtTest>
#include <atomic>
#include <thread>

#include "db/database.h"
#include "ui/data_exchange.h"
#include "ui/db_error_box.h"
#include "ui/screenshot.h"
#include "ui_test_support.h"

using namespace gsms;

class ServicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setDbErrorBoxHook(nullptr); }

    void errorBoxHoldsTheReportingThreadUntilClosed() {
        installDbErrorBox();
        test::BoxWatcher boxes;
        std::atomic<bool> returned{false};
        bool returnedWhileOpen = true;
        boxes.setOnBox([&] { returnedWhileOpen = returned.load(); });

        // A table opened on a file that is not there fails without a box; Go on it does not.
        std::thread reporter([&] {
            CDatabase table;
            (void)table.Open("/nonexistent/status.dbf");
            (void)table.Go(3);
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 30000);
        reporter.join();
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].caption, QStringLiteral("Error"));
        QCOMPARE(boxes.seen()[0].text, QStringLiteral("CDatabase::Go"));
        QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);
        QVERIFY(!returnedWhileOpen);
    }

    void errorBoxOnTheWindowThreadIsShownDirectly() {
        installDbErrorBox();
        test::BoxWatcher boxes;
        CDatabase table;
        (void)table.Go(1);
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(boxes.seen()[0].text, QStringLiteral("CDatabase::Go"));
    }

    void screenshotOnSignal() {
        test::TempProfile profile;
        const QString path = QString::fromStdString(profile.file("shot.png"));
        qputenv("GSMS_SCREENSHOT", path.toLocal8Bit());
        blockScreenshotSignal();
        QWidget window;
        window.resize(120, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        installScreenshotHook(&window);
        // Sent to this thread, which has the signal blocked like every thread of gsms.
        QCOMPARE(raise(SIGUSR1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);
        const QImage shot(path);
        QCOMPARE(shot.size(), window.grab().size());
        QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
        qunsetenv("GSMS_SCREENSHOT");
    }
};

QTEST_MAIN(ServicesTest)
#include "services_test.moc"
