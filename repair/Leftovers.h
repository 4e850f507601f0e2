#pragma once
// What an interrupted run (a crash, a power cut, a kill) can leave behind in the data folders
// and in ZelUtil.Damaged, dealt with before any table is tested again.

#include <string>

namespace zel::repair {

// In each data folder under C:\ZELPOS\ and below C:\ZelPos\ZelUtil.Damaged\: a kept old file
// (".NAME.zelold-*") whose file NAME is gone is the only copy left by a replacement cut short,
// and is put back under its name; every other file of ours (".zelold-*", ".zeltmp-*",
// ".zelcopy-*", ".zelspill-*") is removed. Files of any other name are never touched, and
// nothing outside those folders is (the backup tree is only read). What it does is told on
// standard error; a file it cannot deal with is told and left.
void ClearLeftovers();

// The name the kept old file stood for, or "" when `name` is not a kept old file.
std::string OriginalNameOfKeptFile(const std::string& name);

}  // namespace zel::repair
