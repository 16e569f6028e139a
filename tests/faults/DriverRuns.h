// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace faults {

using LineSink = std::function<void(const QString &)>;

// The engine's runs as the fault driver makes them, shared by the driver and
// by the tests, which make the runs that need no fault in their own process:
//   replace FOLDER FIND REPLACE FLAGS NAME...
//   undo FLAGS
//   restore FOLDER FLAGS NAME...
// (flags as faultdriver.cpp describes them). line gets each file's line as
// that file is done, error what the driver writes to its error output. The
// driver's exit status, or -1 for a command that is none of these.
int runEngineCommand(const QStringList &arguments, const LineSink &line, const LineSink &error);

} // namespace faults
