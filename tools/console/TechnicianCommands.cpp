#include "tools/console/TechnicianCommands.h"

#include <iostream>

#include "platform/EscapeText.h"
#include "platform/RunLock.h"
#include "platform/WindowsFiles.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/posix/WorkAsTillUser.h"
#include "run/FilesRunsMake.h"
#include "technician/PutBack.h"
#include "technician/Undo.h"
#include "tools/console/Console.h"

namespace zel::console {
namespace {

struct Command {
  enum { None, PutBack, Undo } kind = None;
  std::string run;
  std::optional<std::string> master;
};

std::optional<Command> Parse(int argc, char* argv[], std::string& error) {
  Command command;
  bool technician = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--put-back" || arg == "--undo") technician = true;
  }
  if (!technician) return command;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return !out.empty();
    };
    if ((arg == "--put-back" || arg == "--undo") && command.kind == Command::None) {
      command.kind = arg == "--undo" ? Command::Undo : Command::PutBack;
      if (!value(command.run)) {
        error = arg + " needs RUN: a report file, a run's folder or latest";
        return std::nullopt;
      }
    } else if (arg == "--master") {
      std::string table;
      if (!value(table)) return std::nullopt;
      command.master = table;
    } else {
      error = "\"" + EscapeText(arg) + "\" does not go with --put-back or --undo";
      return std::nullopt;
    }
  }
  if (command.master && command.kind != Command::PutBack) {
    error = "--master goes with --put-back only";
    return std::nullopt;
  }
  return command;
}

}  // namespace

std::optional<int> RunTechnicianCommand(int argc, char* argv[]) {
  std::string error;
  const auto command = Parse(argc, argv, error);
  if (!command) {
    std::cerr << "zelutil-console: " << error << "\n" << Usage();
    return kExitUsage;
  }
  if (command->kind == Command::None) return std::nullopt;

  namespace zp = zel::platform;
  // Started as root over a till's prefix: the command works with the till user's rights.
  if (const auto ended =
          zp::WorkAsTillUser("zelutil-console", zel::FilesRunsMake(), {}, kExitError))
    return *ended;
  try {
    switch (zp::HostRunLock().Take()) {
      case zp::RunLock::Outcome::HeldByOtherRun:
        std::cerr << "zelutil-console: ZelUtil is running; try again when it has ended\n";
        return technician::kTechnicianRefused;
      case zp::RunLock::Outcome::NoFolder:
        std::cerr << "zelutil-console: C:\\ZelPos does not exist\n";
        return technician::kTechnicianRefused;
      case zp::RunLock::Outcome::Taken:
        break;
    }
  } catch (const std::exception& e) {
    std::cerr << "zelutil-console: " << zp::EscapeControls(e.what()) << "\n";
    return technician::kTechnicianRefused;
  }
  zp::X11PosWindow posWindow;
  technician::TechnicianContext context{zp::HostFiles(), posWindow, std::cout, std::cerr};
  if (command->kind == Command::Undo) return technician::Undo(context, command->run);
  return technician::PutBack(context, {command->run, command->master});
}

}  // namespace zel::console
