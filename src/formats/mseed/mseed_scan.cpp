#include "formats/mseed/mseed_scan.h"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/files.h"
#include "platform/text.h"
#include "timeline/timeline.h"

namespace zqd::mseed {

namespace {

void Silent(char*) {}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void CopySamples(const MSRecord* msr, std::int32_t* out, std::int64_t from, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t j = from + i;
        switch (msr->sampletype) {
            case 'i': out[i] = static_cast<const std::int32_t*>(msr->datasamples)[j]; break;
            case 'f': out[i] = static_cast<std::int32_t>(std::lround(static_cast<const float*>(msr->datasamples)[j])); break;
            case 'd': out[i] = static_cast<std::int32_t>(std::llround(static_cast<const double*>(msr->datasamples)[j])); break;
            default: out[i] = 0;
        }
    }
}

std::string Trim(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

// The record's start in ns: libmseed's microseconds, if they fit.
bool StartNs(const MSRecord* msr, std::int64_t& ns) {
    const auto us = static_cast<std::int64_t>(msr->starttime);
    if (us > std::numeric_limits<std::int64_t>::max() / 1000 || us < std::numeric_limits<std::int64_t>::min() / 1000)
        return false;
    ns = us * 1000;
    return true;
}

}  // namespace

void QuietLibmseed() {
    static std::once_flag once;
    std::call_once(once, [] { ms_loginit(&Silent, nullptr, &Silent, nullptr); });
}

Status ScanFile(const std::filesystem::path& path, const std::function<void(const RecordInfo&)>& on_record,
                ScanCounts& counts, std::uint64_t from) {
    QuietLibmseed();
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
    if (!file) return Status::Fail(Status::Code::kFileRefused, Status::Why::kSystem).Said(platform::LastErrorText());
    if (from > 0 && !platform::SeekTo(file.get(), from))
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kSystem).Said(platform::LastErrorText());
    MSRecord* msr = nullptr;
    // Records are parsed from pieces of a few MiB, in a buffer each thread keeps.
    thread_local std::vector<char> buffer;
    if (buffer.size() < (4u << 20)) buffer.resize(4u << 20);
    std::vector<std::int32_t> values;
    std::uint64_t base = from;  // file offset of buffer[0]
    counts.end = from;
    std::size_t have = 0, at = 0;
    bool eof = false, more = false;
    while (true) {
        if ((have - at < 8192 || more) && !eof) {  // keep a record's length ahead, or what parsing asked for
            if (at == 0 && have == buffer.size()) buffer.resize(buffer.size() * 2);
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.begin() + static_cast<std::ptrdiff_t>(have), buffer.begin());
            base += at;
            have -= at;
            at = 0;
            const std::size_t got = std::fread(buffer.data() + have, 1, buffer.size() - have, file.get());
            have += got;
            eof = got == 0 || std::feof(file.get());
            more = false;
        }
        if (at >= have) break;
        const int left = static_cast<int>(std::min<std::size_t>(have - at, 1 << 30));
        const int rc = msr_parse(buffer.data() + at, left, &msr, -1, 1, 0);
        if (rc != MS_NOERROR) {
            if (rc > 0 && !eof) {  // more bytes needed: read on
                more = true;
                continue;
            }
            if (rc > 0 || left < 48) {  // a short tail
                counts.tail = have - at;
                break;
            }
            ++counts.bad;  // not a record here: step on by the smallest record length
            at += std::min<std::size_t>(256, have - at);
            counts.end = base + at;
            continue;
        }
        RecordInfo r;
        r.offset = base + at;
        r.reclen = msr->reclen;
        at += static_cast<std::size_t>(msr->reclen);
        counts.end = base + at;
        if (msr->numsamples <= 0 || msr->samprate <= 0) continue;  // not a data record
        // A record must begin and end within what 64-bit nanoseconds hold.
        if (!StartNs(msr, r.start_ns) ||
            timeline::SampleTime(r.start_ns, static_cast<double>(msr->numsamples), msr->samprate) ==
                std::numeric_limits<std::int64_t>::max()) {
            ++counts.bad;
            continue;
        }
        ++counts.records;
        r.code = Trim(msr->network) + "." + Trim(msr->station) + "." + Trim(msr->location) + "." + Trim(msr->channel);
        r.rate = msr->samprate;
        r.samples = msr->numsamples;
        r.values = static_cast<const std::int32_t*>(msr->datasamples);
        if (msr->sampletype != 'i') {  // floats are summarised as rounded codes
            values.resize(static_cast<std::size_t>(msr->numsamples));
            CopySamples(msr, values.data(), 0, msr->numsamples);
            r.values = values.data();
        }
        if (msr->Blkt1001) r.timing_quality = msr->Blkt1001->timing_qual;
        on_record(r);
    }
    if (msr) msr_free(&msr);
    return Status::Ok();
}

std::optional<std::int64_t> FirstRecordStart(const std::filesystem::path& path) {
    QuietLibmseed();
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
    if (!file) return std::nullopt;
    std::vector<char> head(16384);
    const std::size_t have = std::fread(head.data(), 1, head.size(), file.get());
    MSRecord* msr = nullptr;
    std::optional<std::int64_t> start;
    for (std::size_t at = 0; at + 48 <= have && !start;) {
        if (msr_parse(head.data() + at, static_cast<int>(have - at), &msr, -1, 0, 0) != MS_NOERROR) {
            at += 256;
            continue;
        }
        std::int64_t ns = 0;
        if (msr->samplecnt > 0 && msr->samprate > 0 && StartNs(msr, ns)) start = ns;  // samplecnt: the header's count
        at += static_cast<std::size_t>(msr->reclen > 0 ? msr->reclen : 256);
    }
    if (msr) msr_free(&msr);
    return start;
}

RecordDecoder::~RecordDecoder() {
    auto* msr = static_cast<MSRecord*>(msr_);
    if (msr) msr_free(&msr);
}

bool RecordDecoder::Decode(const char* record, std::int32_t reclen, std::uint32_t samples) {
    QuietLibmseed();
    auto* msr = static_cast<MSRecord*>(msr_);
    const bool ok = msr_parse(const_cast<char*>(record), reclen, &msr, reclen, 1, 0) == MS_NOERROR &&
                    msr->numsamples >= static_cast<std::int64_t>(samples);
    msr_ = msr;
    return ok;
}

void RecordDecoder::Copy(std::int64_t from, std::int64_t n, std::int32_t* out) const {
    CopySamples(static_cast<const MSRecord*>(msr_), out, from, n);
}

bool FileLooksLikeMseed(const std::filesystem::path& path) {
    if (platform::KindOf(path) != platform::FileKind::kRegular) return false;  // never opens a FIFO
    std::unique_ptr<std::FILE, FileCloser> f(platform::OpenFile(path, "rb"));
    if (!f) return false;
    char head[512] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f.get());
    return LooksLikeMseed(head, got);
}

bool LooksLikeMseed(const char* bytes, std::size_t size) {
    return size >= 48 && ms_detect(bytes, static_cast<int>(std::min<std::size_t>(size, 1 << 20))) >= 0;
}

}  // namespace zqd::mseed
