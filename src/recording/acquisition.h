// The start sequence both windows share: StopIntr, Initial, the shared
// buffers created anew, StartIntr with the current settings.
#pragma once

#include <functional>
#include <string>

#include "card/card.h"
#include "recording/dll_def.h"

namespace zqd {

struct StartOutcome {
    enum Kind {
        kStarted,
        kCardRefused,  // Initial or StartIntr returned 0: `text` is "Error=" and the card's code
        kNoBuffers,    // the settings give no buffer that can be created: `text` says why
        kNoLibrary,    // the card library or an export is missing: `text` says which
    } kind = kStarted;
    std::string text;
};

// `buffersCreated` runs once the buffers exist, before StartIntr.
StartOutcome StartAcquisition(DllDef& dll, Card& card, const std::function<void()>& buffersCreated = {});

}  // namespace zqd
