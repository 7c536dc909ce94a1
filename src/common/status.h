// The outcome of an operation, as one type throughout the core: a code that
// callers decide on, a number and a detail that the message is made from.
// Texts for people are composed only where they are shown.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace zqd {

struct Status {
    enum class Code {
        kOk,
        kCardRefused,      // Initial or StartIntr returned 0; `value` is GetLastADError's code
        kNoLibrary,        // the card library or one of its exports is missing; `detail` says which
        kNoBuffers,        // the settings give no buffers that can be made; `detail` says why
        kReadFailed,       // ADResult did not return 1; `value` is what it returned
        kSettingsChanged,  // a block does not fit the record that is being gathered
        kFileRefused,      // a file could not be read; `detail` says which and why
        kWriteFailed,      // a file could not be written; `detail` says why
        kQueryRefused,     // the query's inputs leave its widths or the record; `detail` says why
        kBusy,             // refused while something else is under way; `detail` says what
        kLostBlocks,       // `value` blocks were lost on the way to a sink whose queue was full
    };

    Code code = Code::kOk;
    std::int64_t value = 0;
    std::string detail;

    static Status Ok() { return {}; }
    static Status Fail(Code code, std::string detail = {}, std::int64_t value = 0) {
        Status s;
        s.code = code;
        s.detail = std::move(detail);
        s.value = value;
        return s;
    }
    bool ok() const { return code == Code::kOk; }
};

}  // namespace zqd
