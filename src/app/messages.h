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

// What an acquisition lost, each kind once.
struct Losses {
    std::uint64_t read_failures = 0;      // blocks the card did not deliver
    std::uint64_t overflowed_blocks = 0;  // blocks its full buffers overwrote
    std::uint64_t time_gaps = 0;          // GPS time jumps nothing else explains
    std::uint64_t dropped_blocks = 0;     // blocks a consumer's full queue let go
    std::uint64_t unwritten_records = 0, unwritten_samples = 0;  // packed and written nowhere
};
// "读数失败 2 块，缓冲区溢出 3 块，..." : every kind (`all`, for a summary),
// or only those that happened ("无" when none did).
std::string LossText(const Losses& l, bool all);

// A time option that ParseIso refused: its form, or a time beyond what
// 64-bit nanoseconds hold.
std::string TimeOptionText(const std::string& option, const std::string& given, bool out_of_range);

}  // namespace zqd::app
