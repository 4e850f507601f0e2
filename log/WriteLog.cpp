// TForm1's activity log: one dated line per call in C:\ZelPos\ZelUtil.Log.
#include "log/ActivityLog.h"
#include "run/MainScreen.h"

void TForm1::WriteLog(const std::string& message) {
  zel::log::AppendLine(platform().files, platform().system, message);
}
