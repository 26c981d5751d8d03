# The Windows test build (cmake/mingw-w64-x86_64.cmake): which tests it leaves out, and how
# its tests run under Wine.

# Tests that need what only POSIX has: a pseudo-terminal standing in for the modem (the
# scripted modem, the simulator), fork, owners, modes and ACLs of POSIX files, shell scripts
# as commands, inotify. What they check of the Windows files is checked by win32/ and, with
# the simulator on a pseudo-terminal that Wine maps to a COM port, by e2e-wine/ (run by the
# Linux build).
set(GSMS_POSIX_ONLY_TEST_DIRS e2e modem-sim)
set(GSMS_POSIX_ONLY_TESTS
  core/log_outage_test.cpp
  db/database_test.cpp
  gateway/modem_start_test.cpp
  gateway/status_client_test.cpp
  jobs/intake_test.cpp
  modem/sender_test.cpp
  platform/file_move_test.cpp
  platform/ini_file_test.cpp
  platform/process_runner_test.cpp
  platform/serial_port_test.cpp
  sms/incoming_test.cpp
  sms/signal_test.cpp
  sms/sms_submit_test.cpp
  sms/smsc_test.cpp
  sms/tech_alarm_test.cpp)

# Cases of the other files that check what is POSIX's own: LF line ends (Windows writes the
# daily log and text-mode streams with CR LF), '/' in the paths they name, file modes, a file
# system that tells names apart by their case, path lengths of 4096, systemd's journal, a
# second file system at /dev/shm, a rename that refuses the file's own name (a rejected
# request kept in its own folder is counted up there; Wine's MoveFileEx keeps the name).
# win32/ checks the Windows side of the same things.
set(GSMS_POSIX_ONLY_CASES
  ConsoleReceiver.ColouredLinesAndSignalChanges
  ConsoleReceiver.JournalLinesCarryTheirPriority
  ConsoleStyle.FollowsJournalStreamAndTerminal
  JobTableTest.DoubleFreeWritesAndPostsNothing
  JobTableTest.FullTableRefusesAndLogsOverflow
  LoadConfiguration.FilesAndFoldersThatCannotBeUsedAreNamed
  LoadConfiguration.NamesOfAnyLengthAndTheOnesThatDoNotFit
  LoadConfiguration.ReloadAppliesWhatTheWorkersReadAndNamesTheRest
  Logs.ConcurrentFileLinesStayWhole
  Logs.FileLineHasTimeAndText
  Logs.LongTextsAreCutNeverOverrun
  Logs.MidnightStartsTheFileOfTheNewDay
  Logs.MissingLogDirectoryIsCreatedAndUncreatableOneIsSurvived
  ProfileFileNames.BareNameMatchesCaseInsensitively
  Report.FileThatCouldNotBeMovedIsNotSentAgain
  Report.JobFilesMoveAcrossFileSystems
  Report.MissingTableOrUnsafeScenarioWritesNothing
  Report.ResultNamesNeverReplaceAnEarlierResult
  Report.ResultsKeptInTheWatchFolderAreNeverTakenAsJobs
  Report.RowThatCannotBeWrittenIsReportedAndTheJobStillMoved
  SaveSettings.AnUnwritableFileIsNamedOnceAndStillReports
  SaveSettings.WritesTheDialogsKeysInOrderAndReportsThem)

# Removes the POSIX-only files of test folder `name` from the list in `out`.
function(gsms_windows_test_sources name out)
  if(name IN_LIST GSMS_POSIX_ONLY_TEST_DIRS)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(kept)
  foreach(source ${${out}})
    file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${source})
    if(NOT relative IN_LIST GSMS_POSIX_ONLY_TESTS)
      list(APPEND kept ${source})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# The Wine prefix of this build is made (about 10 s, once) and its server started before the
# first test runs; the server is ended after the last.
add_test(NAME wine_prefix
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh start ${GSMS_WINEPREFIX})
add_test(NAME wine_stop
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh stop ${GSMS_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 LABELS wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)

# One test per executable: a Wine start per test case would cost more than the cases.
function(gsms_add_wine_test target)
  list(JOIN GSMS_POSIX_ONLY_CASES ":" posixOnly)
  add_test(NAME ${target} COMMAND ${target} --gtest_filter=-${posixOnly})
  set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
                                            LABELS "wine;unit")
endfunction()
