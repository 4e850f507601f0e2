#pragma once
// TForm1, the one window's run: what it shows in its three lists, label and progress bar, and
// the table object; it drives the whole run. It sees the window only through a FormView, so the
// run is the same under every front end (the Qt window, the Win32 window, the console). Its run
// operations are defined in run/, log/, steps/ and repair/.
#include <string>
#include <vector>

#include "engine/Table.h"
#include "platform/Platform.h"
#include "report/RunReport.h"
#include "run/FormView.h"
#include "run/RunObserver.h"

class TForm1 {
 public:
  TForm1(zel::platform::Platform& platform, FormView& view);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  void SetObserver(RunObserver* observer) { observer_ = observer; }
  // True once the run has been started; it is started at most once per window.
  bool RunStarted() const noexcept { return activated_; }

  // Run sequence. The front end calls FormActivate at the window's first activation; a later
  // call does nothing. When it returns, the run has finished, stopped after Step 1 or been
  // ended by an error.
  void FormActivate();
  void RunChecks();

  // Activity log: appends one line to C:\ZelPos\ZelUtil.Log; raises EInOutError on failure.
  void WriteLog(const std::string& message);

  // Step 1: lock-file reset and POS program close.
  void ResetControlFiles();
  void ClosePosProgram();
  bool DeleteNetFile();
  bool DeleteParadoxLock(const std::string& folder);
  bool DeleteUsersLock(const std::string& folder);
  bool TestControlTable(const std::string& alias, const std::string& table);
  void ClearLockFiles(const std::string& folder);
  void tbl1AfterClose(zel::engine::Table& dataSet);

  // PC shutdown.
  bool ShutDownPc(unsigned flags);
  void AskShutDownAll();

  // Step 2: table test and folder check sequence.
  bool TestTable(const std::string& folder, const std::string& table, const std::string& index1,
                 const std::string& index2, const std::string& index3, const std::string& index4);
  void CheckAllTables();

  // Repair: re-index.
  void ReIndexTable(const std::string& folder, const std::string& table);
  void DeleteIndexFiles(const std::string& folder, const std::string& table);
  void CreateIndexFiles(const std::string& folder, const std::string& table);
  // Repair: new empty table.
  void RepairTransientTable(const std::string& folder, const std::string& table);
  void DeleteTableAndRecreate(const std::string& folder, const std::string& table);
  void CreateNewFile(const std::string& folder, const std::string& table);
  // Repair: restore from shift backup.
  void RepairKeptTable(const std::string& folder, const std::string& table);
  void DeleteTableAndRestore(const std::string& folder, const std::string& table);
  void RestoreFromBackup(const std::string& folder, const std::string& table);
  bool TestBackupFile(const std::string& folder, const std::string& table,
                      const std::string& generation);
  void CopyBackupFiles(const std::string& folder, const std::string& table,
                       const std::string& generation);
  // Before a repair deletes or replaces a table's files: keeps them (a second name, else a
  // copy) in C:\ZelPos\ZelUtil.Damaged\<date-time>\<folder>\ so a technician can salvage
  // them. False, after its failure line, when they could not be kept: then nothing may go.
  bool SaveDamagedFiles(const std::string& folder, const std::string& table);
  // Before a re-index deletes a table's index files: keeps those of `extensions` there are in
  // the run's folder under ZelUtil.Damaged\<date-time>\<folder>\Indexes\, with no line in the
  // lists. False (told on standard error) when they could not be kept; the re-index goes on.
  bool KeepIndexFiles(const std::string& folder, const std::string& table,
                      const std::vector<std::string>& extensions);
  // This run's folder under ZelUtil.Damaged with `sub` appended, made and durable; "" when not.
  std::string KeptFilesFolder(const std::string& sub);

  // What the run operations do with the window; each list line shows at once.
  void AddLine(FormList list, const std::string& text);
  void ClearList(FormList list);
  void MakeLastLineCurrent(FormList list);
  void RepaintList(FormList list);
  void SetLabelText(const std::string& text);
  void SetProgressPosition(int position);
  void SetProgressMaximum(int maximum);
  void StepProgress();
  void RefreshForm();
  void RepaintPanel();
  void SetLabelFlashing(bool flashing);
  // What the window shows now.
  int ProgressPosition() const noexcept { return position_; }
  int ProgressMaximum() const noexcept { return maximum_; }
  const std::string& LabelText() const noexcept { return labelText_; }

  // How the run ended, for front ends that report it (the console's exit status). Filled by
  // FormActivate (errorEnded) and CheckAllTables (the table counts).
  struct RunSummary {
    bool errorEnded = false;  // an error no step caught ended the run
    int tablesTested = 0;     // catalogue tables tested by Step 2
    int tablesUnusable = 0;   // of those, how many stayed unusable after their repair
    int tablesSkipped = 0;    // tables the TablesOk guard skipped
  };
  RunSummary Summary;

  // Check-only: Step 2's table tests over every table, read-only, and nothing else: no lock
  // file made or deleted, no repair, log line, dialog or power-off. Set before the run starts.
  void SetCheckOnly(bool checkOnly) { Report.checkOnly = checkOnly; }
  void RunCheckOnly();
  // Looks at the station's lock files and the POS window without changing either, into
  // Report.step1 (a check-only run's Step 1).
  void SurveyStation();
  // The run report goes to this host file instead of the station's report folder; a check-only
  // run writes one only when given a file.
  void SetReportFile(const std::string& hostPath) { reportFile_ = hostPath; }
  // What the run found and did, filled as it goes (defined in log/, steps/ and repair/).
  zel::report::RunReport Report;
  // Writes the report as the run stands; a failure goes to standard error and changes nothing
  // else. Each later call rewrites the same file.
  void WriteRunReport();
  // The status the run ends with (the console's exit status).
  int ExitStatus() const;
  // Reads the till number and whether it is the master till into the report.
  bool ReadTill();

  // Flags carried between the steps; false at program start.
  bool StepOk = false;
  bool TablesOk = false;

  // The lists as the run names them; the window's own components are the front end's.
  static constexpr FormList lst1 = FormList::Lst1;
  static constexpr FormList lst2 = FormList::Lst2;
  static constexpr FormList lst3 = FormList::Lst3;
  zel::engine::Table tbl1;

  zel::platform::Platform& platform() { return platform_; }
  FormView& view() { return view_; }

 private:
  void NotifyProgress();

  zel::platform::Platform& platform_;
  FormView& view_;
  RunObserver* observer_ = nullptr;
  // The run report's state: the last table test's open attempts, the repair being recorded,
  // where the report goes and whether the run has got far enough to have one.
  std::vector<zel::report::IndexRecord> lastTest_;
  // A check's last table test failed once and was tested again; the pauses it waited so far.
  bool lastRetested_ = false;
  int retestPausedMs_ = 0;
  zel::report::RepairRecord* repairRecord_ = nullptr;
  std::string reportFile_;
  std::string reportWrittenTo_;
  bool reporting_ = false;
  bool tillRead_ = false;
  // The folder of this run under ZelUtil.Damaged, once a repair has kept files there.
  std::string damagedRunFolder_;
  bool activated_ = false;
  std::string labelText_;
  // The bar: range 0 to 100, position 0 at start.
  int position_ = 0;
  int maximum_ = 100;
  int reportedPosition_ = 0;
  int reportedMaximum_ = 100;
};
