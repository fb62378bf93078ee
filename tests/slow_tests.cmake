# The tests that take seconds, by test executable (gtest filter patterns):
# the money soak, the station killed and started again as a process, whole
# consoles against the simulator on a pseudo-terminal, waits that run into the
# switch's time-outs. They are labelled "slow", every other test "fast", so
# `ctest -L fast` is the quick run. Measured with `ctest --timeout 600`: a
# suite whose tests mostly take 1.5 s or more goes whole, otherwise each test
# over about 2 s. A test added to a listed suite follows its suite.
set(slow_admin
  AdminWaysIn.*
  ChangeSite.*
  DBManagerTest.CallsLoggedSinceABackupAreChargedOnceWhenItIsPutBack
  DBManagerTest.RestoreBringsBackEveryFileAndReloadsSettingsAndBoards
  DBManagerTest.RestoredFileFromAnOlderStationSurvivesTheNextStart
  DBManagerTest.TimedBackupSettingsThatCannotBeStoredAreToldAndNothingChanges
  RestoreCrashTest.*
  SiteChooserProcess.*
  SysSetOnSwitch.ADetectionThatCannotStoreThePortSaysSoAndGivesTheWindowBack
  SysSetOnSwitch.DetectionFindsTheSwitchBehindASilentPortAndKeepsTheStoredPortWhenNoneAnswers
  SysSetOnSwitch.ReadingTheSwitchGivesOneMessageForEachOutcome
)
set(slow_billing
  ArchiveTest.AKillAtAnyMomentLosesNoCallAndDoublesNone
  QueryWaysIn.*
  SettlementWaysIn.*
  StartupCrashTest.*
)
set(slow_console
  Backup.*
  Board.*
  ClockTick.*
  Commands.*
  ConsoleTest.*
  GridEditing.*
  Loaded.*
  SecondModel.*
  StationProcess.*
  TreeViews.*
  UsbMenu.RecordsReadWhileTheCallFileIsLockedWaitInBillDatAndAreStoredOnce
)
set(slow_core
  CompactDBTest.FileLockedElsewhereIsSkippedSilently
  MainFrame.*
  Startup.*
)
set(slow_link
  EndToEnd.SendResultsFollowTheSwitchsAnswers
  EndToEnd.SilentSwitchFailsTheHandshake
  WaitsTest.AcknowledgementCompletesTheOlderOfTwoNestedSends
  WaitsTest.AnAcknowledgementSentTwiceOrLateCompletesNoLaterSend
  WaitsTest.NoAnswerGivesTwoAfterTwoTimeOutsAcrossMidnight
)
set(slow_platform
  DbBusy.*
  StepCopyTest.AStepThatFindsTheSourceLockedIsTriedAgain
)
set(slow_pricing
  DiscountWayIn.*
  EndToEndTest.ACallThatChangesADepositGradeSendsTheUsersRowsBeforeItsAnswer
  FeeRateWayIn.*
  IPWayIn.*
  MoneySoakTest.*
  StreamKillTest.*
  UploadKillTest.*
)
set(slow_printing
  ConsolePrintTest.*
)
set(slow_transfer
  IPPuh.*
  Operations.ReadBackMessages
  TableDownload.ADepositChangeWhoseAcknowledgementIsLostIsNeverTakenTwice
  TableDownload.ALateAcknowledgementAcknowledgesNoOtherRow
  TableDownload.ARefusedRowStopsTheTableAndLeavesTheRestPending
  Upload.DifferenceDialog
  Upload.DownloadedTablesVerifyWithoutDifference
  Upload.RequestsOfPerRowTables
  Upload.StreamsEndEarlyAndTimeOutsLeaveTheShadowTable
)
