// Processor pinning at start: the choice of processor and the log lines, the latter in a
// child process so that the test process keeps its own mask.
#include <sys/wait.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QtTest>

#include "frontend/processor_pinning.h"
#include "ui_test_support.h"

using namespace gsms;

namespace {

ProcessorSet setOf(std::initializer_list<int> cpus) {
    ProcessorSet set;
    for (int c : cpus) set.set(static_cast<std::size_t>(c));
    return set;
}

// Runs the pinning in a child started with `mask`; the child's exit code is the one
// processor it ends with (or 255 for more than one). Returns that code.
int pinInChild(const ProcessorSet& mask) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!setProcessAffinity(mask)) _exit(254);
        pinToOneProcessor();
        ProcessorSet after;
        int installed = 0;
        if (!processAffinity(after, installed)) _exit(253);
        _exit(after.count() == 1 ? nthProcessor(after, 0) : 255);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QStringList lines(const test::TempProfile& profile) {
    QStringList out;
    for (const std::string& l : profile.logLines()) out << QString::fromStdString(l);
    return out;
}

}  // namespace

class PinningTest : public QObject {
    Q_OBJECT

    // Two processors this process may use, or a skip.
    ProcessorSet twoUsable() {
        ProcessorSet own;
        int installed = 0;
        (void)processAffinity(own, installed);
        const int a = nthProcessor(own, 0), b = nthProcessor(own, 1);
        if (b < 0) return setOf({});
        return setOf({a, b});
    }

private Q_SLOTS:
    void theNthUsableProcessorIsChosen() {
        const ProcessorSet mask = setOf({0, 2});
        QCOMPARE(nthProcessor(mask, 0), 0);
        QCOMPARE(nthProcessor(mask, 1), 2);
        QCOMPARE(nthProcessor(mask, 2), -1);
        QCOMPARE(processorMaskText(mask), std::string("00000005"));
        QCOMPARE(processorMaskText(setOf({2})), std::string("00000004"));
        QCOMPARE(processorMaskText(setOf({})), std::string("00000000"));
        QCOMPARE(processorMaskText(setOf({0, 1, 31})), std::string("80000003"));
        QCOMPARE(processorMaskText(setOf({35})), std::string("800000000"));
    }

    void twoProcessorsEndPinnedToOne() {
        const ProcessorSet two = twoUsable();
        if (two.count() < 2) QSKIP("needs two usable processors");
        test::TempProfile profile;
        const int cpu = pinInChild(two);
        QVERIFY(cpu == nthProcessor(two, 0) || cpu == nthProcessor(two, 1));

        const QStringList log = lines(profile);
        QCOMPARE(log.size(), 5);
        QVERIFY(QRegularExpression(QStringLiteral("^Multi-processor system: \\d+ CPUs found$"))
                    .match(log[0])
                    .hasMatch());
        QCOMPARE(log[1], QStringLiteral("Current process has been started with 2 CPU(s)"));
        const int n = cpu == nthProcessor(two, 0) ? 1 : 2;
        QCOMPARE(log[2],
                 QStringLiteral("=> Setting process to use only processor %1 of the available 2 :")
                     .arg(n));
        QCOMPARE(log[3], QStringLiteral("   [%1] -> [%2]")
                             .arg(QString::fromStdString(processorMaskText(two)),
                                  QString::fromStdString(processorMaskText(setOf({cpu})))));
        QCOMPARE(log[4], QStringLiteral("done"));
    }

    void oneUsableProcessorIsKept() {
        const ProcessorSet two = twoUsable();
        if (two.count() < 2) QSKIP("needs a machine with two processors");
        test::TempProfile profile;
        const int only = nthProcessor(two, 1);
        QCOMPARE(pinInChild(setOf({only})), only);
        const QStringList log = lines(profile);
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[1], QStringLiteral("Current process has been started with 1 CPU(s)"));
    }
};

QTEST_APPLESS_MAIN(PinningTest)
#include "pinning_test.moc"
