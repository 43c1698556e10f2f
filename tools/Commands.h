// The traxctl commands. Each takes the parsed command line and returns the
// exit status; wrong input throws UsageError before anything is sent, a
// library call that returns 0 throws trax::client::CallError.
#pragma once

#include "Cli.h"
#include "client/SettingTable.h"

namespace traxctl {

int RunValues(Context& ctx);
int RunWatch(Context& ctx);
int RunFigure(Context& ctx);
int RunClearFigure(Context& ctx);
int RunLight(Context& ctx);
int RunStorage(Context& ctx);

int RunGet(Context& ctx);
int RunSet(Context& ctx);
int RunSettings(Context& ctx);
// Words typed for a setting's values, checked against its ranges; throws
// UsageError naming the value.
std::vector<int> ParseSettingValues(const trax::client::Setting& s, const std::vector<std::string>& words);

int RunZero(Context& ctx);
int RunTiming(Context& ctx);
int RunReset(Context& ctx);
int RunPanel(Context& ctx);
int RunLock(Context& ctx);
int RunProgram(Context& ctx);
int RunAble(Context& ctx);
int RunMode(Context& ctx);
int RunDoctor(Context& ctx);

}  // namespace traxctl
