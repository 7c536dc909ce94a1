// The one place where what the core reports becomes the user's text: every
// Status and every event, in the Simplified Chinese that all the windows and
// the command line speak.
#pragma once

#include <string>

#include "acquisition/session.h"
#include "common/status.h"
#include "platform/files.h"

namespace zqd::app {

// The message for a status, its causes woven in.
std::string Text(const Status& s);

// "字符设备", "FIFO（命名管道）", ... for messages.
std::string KindText(platform::FileKind kind);

// "板卡函数库：PATH", and that the data are simulated where they are; empty
// without a library.
std::string CardNotice(const acq::CardIdentity& card);

// The text a refusal by the machine's acquisition lock is shown as (one
// wording for every window and command).
std::string BusyText(const Status& s);

// A refused start, as every window and command says it: "Error=" and the
// code for a card that refused, the lock's holder, or the reason.
std::string StartRefusedText(const Status& s);

// A time option that ParseIso refused: its form, or a time beyond what
// 64-bit nanoseconds hold.
std::string TimeOptionText(const std::string& option, const std::string& given, bool out_of_range);

}  // namespace zqd::app
