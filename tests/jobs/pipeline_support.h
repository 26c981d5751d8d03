// A watch, done, error and watch-log directory in a temporary directory, the settings that
// name them, and the window log lines collected from the notification link.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "jobs/job_table.h"
#include "jobs/intake.h"
#include "jobs/job_journal.h"
#include "jobs/report.h"
#include "platform/clock.h"
#include "platform/profile_dir.h"
#include "support/status_table.h"
#include "support/temp_dir.h"

namespace gsms::test {

namespace fs = std::filesystem;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetSettingsForTest();
        resetJobTableForTest();
        resetLogQueueForTest();
        resetFileMemoryForTest();
        resetPendingMovesForTest();
        setProfileDir(dir.path());
        jobJournal().reset();
        for (const char* d : {"watch", "done", "error", "dbf"}) fs::create_directory(d);
        GatewaySettings& s = settings();
        set(s.watchPath, dir.path() + "/watch");
        set(s.donePath, dir.path() + "/done");
        set(s.errorPath, dir.path() + "/error");
        set(s.watchLogPath, dir.path() + "/dbf");
        set(s.fileMask, "*.sms");
        s.moveJobs = 1;
        s.retryCount = 5;
        s.retryDelay = 0;
        s.maxMsgLength = 800;
        setNotifier([this](int code) {
            if (code != kNotifyLogLine) return;
            if (auto l = takeLogLine()) {
                std::lock_guard lock(mutex_);
                lines_.push_back(*l);
            }
        });
    }
    void TearDown() override {
        resetLogQueueForTest();
        resetJobTableForTest();
        resetFileMemoryForTest();
        resetPendingMovesForTest();
        jobJournal().reset();
    }
    template <std::size_t N>
    static void set(char (&field)[N], const std::string& value) {
        std::snprintf(field, N, "%s", value.c_str());
    }
    // Lets what the last scan saw stay unchanged long enough to be taken or rejected.
    static void settle() { clock::sleepMs(kSettleMs + 100); }
    static void writeJob(const std::string& name, const std::string& body) {
        writeFile("watch/" + name, "[Alarm]\r\n" + body);
    }
    std::vector<LogLine> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int countLines(const std::string& text, ColorRef colour) {
        int n = 0;
        for (const auto& l : lines())
            if (l.text.find(text) != std::string::npos && l.colour == colour) ++n;
        return n;
    }
    std::string dailyLog() { return readFile(dailyLogPath(clock::localNow())); }
    static std::vector<std::string> filesIn(const std::string& d) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(d))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The only queued job (the tests queue one at a time).
    static AlarmJob* onlyJob() {
        for (AlarmJob* j : jobTable().slots)
            if (j) return j;
        return nullptr;
    }
    static void makeTable(const std::string& path, int records, const char* ty1,
                          const char* ty2 = "") {
        ASSERT_TRUE(gsms::test::makeStatusTable(path, records, ty1, ty2));
    }
    using Row = gsms::test::StatusRow;
    static Row row(const std::string& path, int record) { return gsms::test::statusRow(path, record); }

    TempDir dir;

private:
    std::mutex mutex_;
    std::vector<LogLine> lines_;
};

}  // namespace gsms::test
