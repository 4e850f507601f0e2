#pragma once
// Demo stations for tests: a few records per table under a temporary prefix, with named damage.
#include <QString>
#include <QStringList>
#include <exception>
#include <sstream>

#include "tools/demostation/DemoStation.h"

namespace zel::test {

// Builds a demo station under `prefix` with the given damage kinds (the builder's names);
// returns the error text, empty when it was built.
inline QString BuildDemoStation(const QString& prefix, const QStringList& damages = {},
                                int scale = 5) {
  demostation::StationOptions options;
  options.prefix = prefix.toStdString();
  options.scale = scale;
  try {
    for (const QString& damage : damages)
      options.damages.push_back(demostation::ParseDamage(damage.toStdString()));
    std::ostringstream progress;
    demostation::BuildStation(options, progress);
  } catch (const std::exception& error) {
    return QString::fromStdString(error.what());
  }
  return {};
}

}  // namespace zel::test
